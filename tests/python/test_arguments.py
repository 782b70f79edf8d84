"""What the functions accept, and short errors naming the argument."""

import numpy as np
import pytest

import kernel_width as kw

GOOD = [[0.0, 0.0], [3.0, 4.0], [1.0, 1.0]]
TABLE = [[0.5, 2.0], [1.5, 4.0]]


@pytest.mark.parametrize("threads", ["2", 2.0, True, np.bool_(True), None,
                                     [2]])
@pytest.mark.parametrize("call", [
    lambda t: kw.form_statistics(GOOD, threads=t),
    lambda t: kw.form_width(GOOD, TABLE, threads=t),
    lambda t: kw.labelled_statistics(GOOD, threads=t),
    lambda t: kw.labelled_width(GOOD, threads=t),
    lambda t: kw.median_width(GOOD, threads=t),
    lambda t: kw.distance_quantiles(GOOD, 0.5, GOOD, threads=t),
])
def test_threads_of_another_type(call, threads):
    with pytest.raises(TypeError) as e:
        call(threads)
    message = str(e.value)
    assert message == f"threads must be an int, not {type(threads).__name__}"


@pytest.mark.parametrize("value", ["1", 1.0, False])
def test_first_column_of_another_type(value):
    with pytest.raises(TypeError, match="^first_column must be an int, not "):
        kw.labelled_width(GOOD, first_column=value)


def test_counts_at_their_limits():
    want = kw.form_statistics(GOOD, threads=1)
    for threads in (0, 1024, np.int64(2), np.uint8(3)):
        assert kw.form_statistics(GOOD, threads=threads) == want
    for threads in (-1, 1025):
        with pytest.raises(ValueError, match=(
                "^threads must be 0 .every core. to 1024, not %d$" % threads)):
            kw.form_statistics(GOOD, threads=threads)
    assert kw.labelled_width(GOOD, first_column=np.int32(1)) == (
        kw.labelled_width(GOOD, first_column=1))
    # The last column is the only feature; one past it names no column.
    assert kw.labelled_statistics(GOOD, first_column=1).columns == 1
    with pytest.raises(ValueError, match=(
            "^first_column=2 is beyond the last column of X: X has 2 "
            "columns, which first_column counts from 0$")):
        kw.labelled_statistics(GOOD, first_column=2)


BIG_TEXT = np.zeros((300, 300), dtype=object)
BIG_TEXT[299, 298] = "x" * 500


@pytest.mark.parametrize("x,error,message", [
    ([["1.5", "2"]], TypeError, "X must hold real numbers, not text"),
    (np.array([[b"1"]]), TypeError, "X must hold real numbers, not text"),
    ([[1j, 2.0]], TypeError, "X must hold real numbers, not complex numbers"),
    (np.array([["2020-01-01"]], dtype="M8[D]"), TypeError,
     "X must hold real numbers, not dates"),
    ([[1.0, None]], TypeError,
     "X must hold real numbers, not NoneType (row 0, column 1)"),
    (BIG_TEXT, TypeError,
     "X must hold real numbers, not str (row 299, column 298)"),
    ([[1.0, 2.0], [3.0]], ValueError,
     "X must be a 2-D array with rows of equal length"),
    (5.0, ValueError, "X must be a 2-D array, not 0-D"),
    ([1.0, 2.0], ValueError, "X must be a 2-D array, not 1-D"),
    (np.zeros((2, 2, 2)), ValueError, "X must be a 2-D array, not 3-D"),
    ("abc", TypeError, "X must hold real numbers, not text"),
])
def test_x_that_is_no_matrix_of_numbers(x, error, message):
    for call in (kw.form_statistics, kw.labelled_statistics,
                 lambda x: kw.form_width(x, TABLE)):
        with pytest.raises(error) as e:
            call(x)
        assert str(e.value) == message


def test_the_table_is_named():
    with pytest.raises(TypeError, match="^table must hold real numbers, "):
        kw.form_width(GOOD, [["a", "b"]])
    with pytest.raises(ValueError, match="^table must be a 2-D array, not "):
        kw.form_width(GOOD, 2.0)


def test_numbers_of_any_kind_are_taken():
    want = kw.form_statistics(GOOD)
    fractions = pytest.importorskip("fractions")
    exact = [[fractions.Fraction(int(v)) for v in row] for row in GOOD]
    assert kw.form_statistics(np.array(exact, dtype=object)) == want
    assert kw.form_statistics(np.array(GOOD, dtype=np.int16)) == want
    assert kw.form_statistics([[True, False]]).columns == 2


def test_pandas_frames():
    pd = pytest.importorskip("pandas")
    rng = np.random.default_rng(11)
    x = rng.normal(size=(60, 3))
    frame = pd.DataFrame(x, columns=["a", "b", "c"])
    assert kw.form_statistics(frame) == kw.form_statistics(x)
    assert kw.form_width(frame, pd.DataFrame(TABLE)) == kw.form_width(x, TABLE)
    # Mixed integer and float columns become one float array.
    frame["n"] = np.arange(60)
    mixed = np.column_stack([x, np.arange(60.0)])
    assert kw.labelled_statistics(frame, first_column=0) == (
        kw.labelled_statistics(mixed, first_column=0))

    frame["species"] = ["setosa", "virginica"] * 30
    with pytest.raises(TypeError) as e:
        kw.labelled_width(frame, first_column=0)
    assert str(e.value) == (
        "X must hold real numbers, not str (row 0, column 4)")
    # Leaving the text column out is how to use such a frame.
    assert kw.labelled_width(frame.drop(columns="species"), first_column=0) == (
        kw.labelled_width(mixed, first_column=0))

    missing = pd.DataFrame({"a": pd.array([1, None, 3], dtype="Int64")})
    with pytest.raises(TypeError, match=r"not NAType \(row 1, column 0\)$"):
        kw.form_statistics(missing)


def test_label_leaves_a_column_out_of_every_function():
    pd = pytest.importorskip("pandas")
    rng = np.random.default_rng(12)
    x = rng.normal(size=(30, 3))
    y = rng.normal(size=(20, 3))
    table = [[0.5, 2.0], [1.5, 4.0]]
    q = [0.1, 0.5, 0.9]
    # Each call on X with label=..., and on X's features alone.
    calls = [
        (lambda a, **k: kw.form_statistics(a, **k), {}),
        (lambda a, **k: kw.form_width(a, table, output="gamma", **k), {}),
        (lambda a, **k: kw.labelled_statistics(a, **k), {"first_column": 0}),
        (lambda a, **k: kw.labelled_width(a, output="sigma", **k),
         {"first_column": 0}),
        (lambda a, **k: kw.median_statistics(a, **k), {}),
        (lambda a, **k: kw.median_width(a, **k), {}),
        (lambda a, **k: tuple(kw.distance_quantiles(a, q, **k)), {}),
    ]
    # The text class column first, in the middle and last; a float array
    # with the label at an edge is read in place, in the middle copied.
    for where, label in [(0, 1), (2, 3), (3, "last"), (3, 4)]:
        frame = pd.DataFrame(x, columns=["a", "b", "c"])
        frame.insert(where, "class", ["setosa", "virginica"] * 15)
        numbers = np.insert(x, where, 7.0, axis=1)
        for call, alone in calls:
            want = call(x, **alone)
            assert call(frame, label=label) == want, (where, label)
            assert call(numbers, label=label) == want, (where, label)
    frame_x = pd.DataFrame(np.column_stack([x, np.zeros(30)]))
    frame_x[3] = "one"
    frame_y = pd.DataFrame(np.column_stack([y, np.zeros(20)]))
    frame_y[3] = "other"
    assert kw.median_width(frame_x, Y=frame_y, cross=True, label="last") == (
        kw.median_width(x, Y=y, cross=True))
    assert (kw.distance_quantiles(frame_x, q, frame_y, label=4) == (
        kw.distance_quantiles(x, q, y))).all()
    # Text outside the label's column is still named by its place in X.
    frame = pd.DataFrame(x)
    frame[3] = "class"
    frame.loc[4, 1] = "oops"
    with pytest.raises(TypeError, match=r"^X must hold real numbers, not "
                       r"str \(row 4, column 1\)$"):
        kw.median_width(frame, label="last")


def test_label_and_first_column_together():
    rng = np.random.default_rng(13)
    x = rng.normal(size=(25, 5))  # an id, three features, a label
    want = kw.labelled_statistics(x[:, 1:4], first_column=0)
    assert kw.labelled_statistics(x, first_column=1, label="last") == want
    assert kw.labelled_statistics(x, first_column=1, label=5) == want
    # The label among the columns that first_column leaves out already.
    assert kw.labelled_statistics(x, first_column=1, label=1) == (
        kw.labelled_statistics(x))
    assert kw.labelled_statistics(x, label=1) == kw.labelled_statistics(x)
    assert kw.labelled_statistics(x, first_column=4, label=1).columns == 1
    with pytest.raises(ValueError, match=(
            r"^first_column=0 \(every column a feature\) contradicts "
            r"label='last': give one of them$")):
        kw.labelled_width(x, first_column=0, label="last")
    # The last column is the only feature left: no feature values.
    with pytest.raises(ValueError, match="^no feature values$"):
        kw.labelled_width(x, first_column=4, label="last")


@pytest.mark.parametrize("label,error,message", [
    (6, ValueError, "^label=6 is beyond the last column of X: X has 5 "
     "columns, which label counts from 1$"),
    (0, ValueError, '^label must be a column number from 1 or "last", not 0$'),
    (-1, ValueError, "not -1$"),
    ("first", ValueError, "not 'first'$"),
    ("Last", ValueError, "not 'Last'$"),
    (True, TypeError, '^label must be a column number from 1 or "last", '
     "not bool$"),
    (5.0, TypeError, "not float$"),
])
def test_labels_refused(label, error, message):
    x = np.zeros((3, 5))
    for call in (kw.form_statistics, kw.labelled_statistics,
                 kw.median_statistics, lambda a, label: kw.distance_quantiles(
                     a, 0.5, a, label=label)):
        with pytest.raises(error, match=message):
            call(x, label=label)
    assert kw.form_statistics(x, label=5).columns == 4
    with pytest.raises(ValueError, match="^label='last' names no column: "
                       "X has none$"):
        kw.median_width(np.zeros((3, 0)), label="last")
