# The differential set of tests/cross/run: every estimator, with -v (the
# statistics to 17 digits), on the data of make_data.py, run by two builds
# on each instruction set that either machine runs; every run's output
# (standard output, standard error, status) must be the same bytes.

# The cases, each on `$runner` programs in `$bin`, in the data directory.
cases() {
  local f
  for f in g_*.txt ties_250x3.txt huge_90x4.txt tiny_90x4.txt; do
    one form_kernel_width -v "$f"
    one median_kernel_width -v "$f"
  done
  for f in g_37x5.txt g_203x3.txt g_300x17.txt g_150x64.txt g_60x300.txt \
           labelled_170x6.txt ties_250x3.txt huge_90x4.txt tiny_90x4.txt; do
    one labelled_kernel_width -v "$f"
  done
  for f in g_300x17.txt g_150x64.txt ties_250x3.txt huge_90x4.txt; do
    one median_kernel_width -v -q 0,0.1,0.25,0.5,0.75,0.9,1 "$f"
  done
  one median_kernel_width -v g_203x3.txt y_120x3.txt
  one median_kernel_width -v -q 0.2,0.5 g_300x17.txt y_40x17.txt
  one median_kernel_width -v --cross g_203x3.txt y_120x3.txt
  one median_kernel_width -v -q 0.05,0.5,0.95 --cross g_300x17.txt y_40x17.txt
  one median_kernel_width -v -j 1 --cross g_9x2.txt g_2x1.txt
  for f in -j1 -j3; do
    one form_kernel_width -v "$f" g_300x17.txt
    one labelled_kernel_width -v "$f" g_150x64.txt
    one median_kernel_width -v "$f" -q 0.5,0.7 g_60x300.txt
  done
}

# Windows' programs (exe=.exe) end their lines with "\r\n", as is the rule
# there: compared without the "\r". A program never fails without a word;
# under wine a run once did (status 1, no output, once in about a thousand
# runs, not seen again), so such a run is run once more, and said so.
one() {  # PROGRAM ARGUMENTS...
  local status=0
  echo "\$ $*"
  "${runner[@]}" "$bin/$1${exe:-}" --no-progress "${@:2}" >out.txt \
    2>err.txt || status=$?
  if [ -n "${exe:-}" ] && [ $status != 0 ] && [ ! -s out.txt ] &&
     [ ! -s err.txt ]; then
    echo "differential: '$*' failed silently ($status): run again" >&2
    status=0
    "${runner[@]}" "$bin/$1${exe:-}" --no-progress "${@:2}" >out.txt \
      2>err.txt || status=$?
  fi
  tr -d '\r' <out.txt
  echo "-- standard error"
  tr -d '\r' <err.txt
  echo "-- status $status"
}

# The sets a build's programs run, from their message for a set that none
# runs: "base, avx2".
isas_of() {
  { KERNEL_WIDTH_ISA=none "${runner[@]}" "$bin/form_kernel_width${exe:-}" \
      g_9x2.txt 2>&1 >/dev/null || true; } |
    tr -d '\r' | sed -n 's/.*(this CPU runs: \(.*\))$/\1/p'
}

# differential DIR NATIVE_BIN EXPECTED_ISAS OTHER_BIN RUNNER...: the other
# build's programs (run by RUNNER) against the native ones; the other's sets
# must be EXPECTED_ISAS ("native": the native programs' sets).
differential() {
  local out=$1 native_bin=$2 expected=$3 other_bin=$4
  rm -rf "$out" && mkdir -p "$out/data"
  python3 "$src/tests/cross/make_data.py" "$out/data"
  cp "$src/examples/form_of_relationship.txt" "$out/data/"
  local bin runner set sets failed=0
  (
    cd "$out/data"
    bin=$native_bin runner=()
    sets=$(exe="" isas_of)
    [ "$expected" != native ] || expected=$sets
    for set in ${sets//,/}; do
      KERNEL_WIDTH_ISA=$set exe="" cases >"../native-$set.txt"
    done
    bin=$other_bin runner=("${@:5}")
    sets=$(isas_of)
    if [ "$sets" != "$expected" ]; then
      echo "differential: the other build runs '$sets', not '$expected'" >&2
      exit 1
    fi
    for set in ${sets//,/}; do
      KERNEL_WIDTH_ISA=$set cases >"../other-$set.txt"
    done
    cd ..
    local reference
    reference=$(ls native-*.txt | head -n 1)
    echo "differential: $(grep -c '^\$ ' "$reference") runs, each on" \
         "$(ls native-*.txt other-*.txt | sed 's/\.txt$//' | tr '\n' ' ')" >&2
    for f in native-*.txt other-*.txt; do
      if ! cmp -s "$reference" "$f"; then
        echo "differential: $f differs from $reference:" >&2
        diff -u "$reference" "$f" | head -n 40 >&2
        failed=1
      fi
    done
    exit $failed
  )
}
