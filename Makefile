# Thin wrapper over CMake: `make demo` runs the programs on the examples,
# `make test` installs what the tests need (Debian packages) and builds and
# runs every test.
BUILD ?= build
FUZZ_SECONDS ?= 60

# What the tests need beyond g++, cmake and make: zlib (the programs read
# compressed data files), GoogleTest, the Python module's build and test
# packages (pandas; venv, pip, setuptools, wheel and mypy for pip install .
# and its types; dask and distributed for kernel_width.dask), groff for the
# man pages, and scikit-learn and matplotlib for the worked example's test
# (its data sets serve the programs' tests too), and R with Rcpp and
# testthat for the R package.
TEST_PACKAGES = zlib1g-dev libgtest-dev pybind11-dev python3-dev \
  python3-numpy python3-pytest python3-pandas python3-venv python3-pip \
  python3-setuptools python3-wheel mypy groff-base python3-sklearn \
  python3-matplotlib python3-dask python3-distributed r-base-dev r-cran-rcpp \
  r-cran-testthat

# The sanitizers' build: clang with libc++, googletest from its sources.
SANITIZE_PACKAGES = zlib1g-dev googletest clang libclang-rt-dev libc++-dev \
  libc++abi-dev

# The MPI programs and their tests are built where Open MPI is installed
# (libopenmpi-dev, openmpi-bin).
MPI_OPTION := $(if $(shell command -v mpicxx 2>/dev/null),-DMPI=ON,-DMPI=OFF)

.PHONY: all demo packages test test-build test-ctest test-r test-cross sanitize \
  sanitize-build \
  fuzz fuzz-build \
  package r-package r-install r-test r-check clean

all:
	cmake -S . -B $(BUILD) -DBUILD_TESTING=OFF
	cmake --build $(BUILD) -j2

# The relationship-form table is read from the current directory.
demo: all
	cd examples && ../$(BUILD)/programs/form_kernel_width unlabelled.txt
	cd examples && ../$(BUILD)/programs/form_kernel_width -d , --header unlabelled.csv
	cd examples && ../$(BUILD)/programs/labelled_kernel_width labelled.txt
	cd examples && ../$(BUILD)/programs/median_kernel_width unlabelled.txt

# The packages of every test, the sanitizers' and the other machines'
# (CROSS_TARGETS') included, installed at once: apt-get takes one caller
# at a time, and the tests' builds run side by side.
packages:
	tests/install_packages.sh $(TEST_PACKAGES) $(SANITIZE_PACKAGES)
	if [ -n "$(CROSS_TARGETS)" ]; then tests/cross/run packages; fi

# Every test, two at a time: ctest's (the C++ units, the programs, the
# Python module, the MPI programs) beside the R package's, where R is
# installed (checked as R CMD check checks a package's tarball, its tests
# against the programs), and the builds for the other machines; then the
# guides' examples, whose R ones use the package that R CMD check
# installed.
test: test-build
	$(MAKE) --no-print-directory -j2 test-ctest test-r test-cross
	ctest --test-dir $(BUILD) --output-on-failure -R '^examples$$'

test-ctest:
	ctest --test-dir $(BUILD) -j2 --output-on-failure -E '^examples$$'

# The other machines: aarch64 (cross GCC, run under qemu-user, its widths
# byte for byte the native programs'), clang with libc++ (the unit tests)
# and Windows (mingw-w64, its widths under wine64 unless KW_WINE=0);
# tests/cross/run says how. The sanitizers' build is clang with libc++
# too, and the fuzzer's clang with libstdc++ (tests/cross/run's `clang`
# target builds and tests all of it so). CROSS_TARGETS= skips them.
CROSS_TARGETS ?= aarch64 libcxx mingw
test-cross:
	if [ -n "$(CROSS_TARGETS)" ]; then \
	  KW_NATIVE_BUILD=$(BUILD) tests/cross/run $(CROSS_TARGETS); fi

test-r:
	if command -v R >/dev/null 2>&1; then $(MAKE) --no-print-directory r-check; fi

test-build:
	tests/install_packages.sh $(TEST_PACKAGES)
	cmake -S . -B $(BUILD) -DBUILD_TESTING=ON -DPYTHON_MODULE=ON $(MPI_OPTION)
	cmake --build $(BUILD) -j2

# Without the MPI programs: Open MPI's own allocations would fail the leak
# check. Line tables only (-g1): enough for the reports' files and lines.
# clang with libc++, macOS's C++ library (GCC with libstdc++ builds
# everything else), warnings as errors. googletest comes from Debian's
# sources, built once with libc++ and the sanitizers (libc++'s containers
# tell AddressSanitizer their bounds from inline code, which must be
# instrumented on both sides).
SANITIZE_GTEST = $(CURDIR)/build-sanitize-gtest
SANITIZE_FLAGS = -DMPI=OFF -DPYTHON_MODULE=OFF -DBUILD_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1"
sanitize: sanitize-build
	ctest --test-dir build-sanitize -j2 --output-on-failure

sanitize-build:
	tests/install_packages.sh $(SANITIZE_PACKAGES)
	if [ ! -f $(SANITIZE_GTEST)/lib/cmake/GTest/GTestConfig.cmake ]; then \
	  cmake -S /usr/src/googletest -B $(SANITIZE_GTEST)/build \
	    -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF \
	    -DCMAKE_INSTALL_PREFIX=$(SANITIZE_GTEST) \
	    -DCMAKE_CXX_COMPILER=clang++ \
	    -DCMAKE_CXX_FLAGS="-stdlib=libc++ -fsanitize=address,undefined" && \
	  cmake --build $(SANITIZE_GTEST)/build -j2 --target install; fi
	cmake -S . -B build-sanitize -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_CXX_FLAGS="-Werror -stdlib=libc++" \
	  -DGTest_DIR=$(SANITIZE_GTEST)/lib/cmake/GTest \
	  -DBUILD_TESTING=ON -DSANITIZE=ON $(SANITIZE_FLAGS)
	cmake --build build-sanitize -j2

# Runs the reader's libFuzzer target for FUZZ_SECONDS; a finding stops it
# with a non-zero status and leaves the input in build-fuzz/. Its own
# build (clang, the sanitizers, the library and the programs' side only)
# with libstdc++, whose stream extraction the fuzzer compares the reader
# with.
fuzz: fuzz-build
	mkdir -p build-fuzz/corpus
	build-fuzz/tests/fuzz/reader_fuzz -max_total_time=$(FUZZ_SECONDS) \
	  -max_len=8192 -timeout=10 -print_final_stats=1 \
	  -artifact_prefix=build-fuzz/ build-fuzz/corpus tests/fuzz/corpus

fuzz-build:
	tests/install_packages.sh zlib1g-dev clang libclang-rt-dev
	cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_CXX_FLAGS=-Werror -DBUILD_TESTING=OFF -DFUZZ=ON $(SANITIZE_FLAGS)
	cmake --build build-fuzz -j2 --target reader_fuzz

# The Debian package, in $(BUILD)/: the programs, the C++ library and the
# Python module.
package:
	cmake -S . -B $(BUILD) -DPYTHON_MODULE=ON -DMPI=OFF
	cmake --build $(BUILD) -j2
	cd $(BUILD) && cpack -G DEB

# The R package (r/). r-package: its source tarball in $(BUILD)/r/, with
# the library's sources copied in, so that it installs anywhere.
# r-install: the package installed from the clone (R CMD INSTALL r) into
# $(BUILD)/r/library; r-test: that, and its tests run there, against the
# programs in $(BUILD)/programs. r-check: R CMD check of the tarball, which
# must end without a warning or note but the one a machine offline always
# gets; compiled with R's own flags but debug information (-g), which
# takes a quarter of the compile time and changes no warning.
R_STAGE = $(BUILD)/r/kernelwidth
R_LIBRARY = $(CURDIR)/$(BUILD)/r/library

r-package:
	rm -rf $(BUILD)/r/kernelwidth* && mkdir -p $(BUILD)/r
	cp -R r $(R_STAGE)
	rm -rf $(R_STAGE)/src/library* $(R_STAGE)/src/Makevars \
	  $(R_STAGE)/src/*.o $(R_STAGE)/src/*.so
	r/tools/vendor . $(R_STAGE)/src/library
	cd $(BUILD)/r && R CMD build kernelwidth

r-install:
	mkdir -p $(R_LIBRARY)
	MAKEFLAGS=-j2 R CMD INSTALL --library=$(R_LIBRARY) r

r-test: r-install
	cd r/tests/testthat && R_LIBS=$(R_LIBRARY) \
	  KERNEL_WIDTH_PROGRAMS=$(CURDIR)/$(BUILD)/programs \
	  Rscript -e 'testthat::test_dir(".", package = "kernelwidth", load_package = "installed", stop_on_failure = TRUE)'

r-check: r-package
	echo "CXX20FLAGS = $$(R CMD config CXX20FLAGS | sed 's/^-g //; s/ -g / /')" \
	  >$(BUILD)/r/Makevars.check
	cd $(BUILD)/r && MAKEFLAGS=-j2 _R_CHECK_FORCE_SUGGESTS_=false \
	  R_MAKEVARS_USER=$(CURDIR)/$(BUILD)/r/Makevars.check \
	  KERNEL_WIDTH_PROGRAMS=$(CURDIR)/$(BUILD)/programs \
	  R CMD check --no-manual kernelwidth_*.tar.gz
	r/tools/check_log $(BUILD)/r/kernelwidth.Rcheck/00check.log

clean:
	rm -rf $(BUILD) build-sanitize build-sanitize-gtest build-fuzz build-pip build-cross \
	  python/*.egg-info \
	  r/src/library* r/src/Makevars r/src/*.o r/src/*.so
