"""What the functions accept, and short errors naming the argument."""

import numpy as np
import pytest

import kernel_width as kw

GOOD = [[0.0, 0.0], [3.0, 4.0], [1.0, 1.0]]
TABLE = [[0.5, 2.0], [1.5, 4.0]]


@pytest.mark.parametrize("threads", ["2", 2.0, True, None, [2]])
@pytest.mark.parametrize("call", [
    lambda t: kw.form_statistics(GOOD, threads=t),
    lambda t: kw.form_width(GOOD, TABLE, threads=t),
    lambda t: kw.labelled_statistics(GOOD, threads=t),
    lambda t: kw.labelled_width(GOOD, threads=t),
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
    # The last column is the only feature; one past it leaves none.
    assert kw.labelled_statistics(GOOD, first_column=1).columns == 1
    with pytest.raises(ValueError, match="^no feature values$"):
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
