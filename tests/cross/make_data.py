"""Writes the cross builds' differential data files into a directory.

The same seed gives the same files on every machine: the builds compared
read the same bytes. Shapes cross the kernels' edges: a partial panel of 8
samples, several panels, the wide path from 64 columns, chunks of panels
(over 4096 values a row); values with ties on the exact sums' grids, and
squares that overflow (whose mean, inf, makes the variance NaN) or fall
below the normal range.
"""
import random
import sys


def write(path, rows):
    with open(path, "w") as f:
        for row in rows:
            f.write(" ".join(row) + "\n")


def gaussian(rng, n, cols, scale=1.0):
    return [[repr(rng.gauss(0.0, scale)) for _ in range(cols)]
            for _ in range(n)]


def main(out):
    rng = random.Random(20261210)
    for n, cols in [(1, 3), (2, 1), (9, 2), (37, 5), (203, 3), (300, 17),
                    (150, 64), (130, 70), (60, 300)]:
        write(f"{out}/g_{n}x{cols}.txt", gaussian(rng, n, cols))
    write(f"{out}/y_120x3.txt", gaussian(rng, 120, 3, 2.5))
    write(f"{out}/y_40x17.txt", gaussian(rng, 40, 17))
    # Small integers: many equal distances, terms on the grids' ties.
    write(f"{out}/ties_250x3.txt",
          [[str(rng.randint(-3, 3)) for _ in range(3)] for _ in range(250)])
    # Squares past the largest double, and below the smallest normal one.
    write(f"{out}/huge_90x4.txt", gaussian(rng, 90, 4, 1e155))
    write(f"{out}/tiny_90x4.txt", gaussian(rng, 90, 4, 1e-160))
    # Decimals as people write them, with a label column first.
    write(f"{out}/labelled_170x6.txt",
          [[str(rng.randint(0, 2))] +
           [f"{rng.uniform(-50, 50):.3f}" for _ in range(5)]
           for _ in range(170)])

if __name__ == "__main__":
    main(sys.argv[1])
