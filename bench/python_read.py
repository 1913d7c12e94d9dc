"""Times talveco.read(FILE) in this process, RUNS times, as library_read
times the C++ library: prints the milliseconds of each run and a checksum.
With "gil", shows instead how far another Python thread counts while read
decodes, against a sleep as long: the GIL is free during the decoding.
    python_read.py FILE RUNS [gil]"""

import sys
import threading
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


def counted_while(action):
    counter = {"count": 0, "stop": False}

    def count():
        while not counter["stop"]:
            counter["count"] += 1

    thread = threading.Thread(target=count)
    thread.start()
    time.sleep(0.1)
    before, start = counter["count"], time.perf_counter()
    action()
    during, seconds = counter["count"] - before, time.perf_counter() - start
    before = counter["count"]
    time.sleep(seconds)
    idle = counter["count"] - before
    counter["stop"] = True
    thread.join()
    return during, idle, seconds


def show_gil(path, runs):
    for _ in range(runs):
        during, idle, seconds = counted_while(lambda: talveco.read(path))
        print(f"another thread counted to {during} during a read of {seconds * 1000:.0f} ms, "
              f"to {idle} during a sleep as long")


if __name__ == "__main__":
    if sys.argv[3:] == ["gil"]:
        show_gil(sys.argv[1], int(sys.argv[2]))
    else:
        main(sys.argv[1], int(sys.argv[2]))
