"""Times talveco.read(FILE) in this process, RUNS times, as library_read
times the C++ library: prints the milliseconds of each run and a checksum.
    python_read.py FILE RUNS"""

import sys
import time

import numpy

import talveco


def checksum(samples):
    # library_read's sum of (index + 1) * sample, wrapping at 2^64.
    flat = samples.reshape(-1).astype(numpy.int64).view(numpy.uint64)
    weights = numpy.arange(1, len(flat) + 1, dtype=numpy.uint64)
    return int((flat * weights).sum(dtype=numpy.uint64))


def main(path, runs):
    data = None
    for _ in range(runs):
        start = time.perf_counter()
        data, _rate = talveco.read(path)
        print(f"{(time.perf_counter() - start) * 1000:.1f}")
    print(f"checksum {checksum(data)}")


if __name__ == "__main__":
    main(sys.argv[1], int(sys.argv[2]))
