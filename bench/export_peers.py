#!/usr/bin/env python3
"""The peers of the CSV export, timed inside Python (the interpreter's start not counted):
numpy.savetxt (fmt "%.9g") or pandas to_csv of the volts the program exports for a record.
Usage: export_peers.py numpy|pandas RECORD OUTPUT REPEATS   -> the median seconds of a write
"""
import statistics
import sys
import time

import numpy as np


def volts_of(path):
    data = open(path, "rb").read()
    header = data[8:264]
    channels = int.from_bytes(header[0:2], "little")
    samples = int.from_bytes(header[6:10], "little")
    clock = int.from_bytes(header[12:14], "little")
    ticks = int.from_bytes(header[14:18], "little", signed=True)
    columns = [np.arange(samples) / (clock * 1000.0 / ticks)]
    at = 264
    for _ in range(channels):
        gain = data[at]
        codes = np.frombuffer(data, dtype=np.int8, count=samples, offset=at + 16)
        columns.append(codes * 5.0 * (4096 >> gain) / 2.0 ** 20)
        at += 16 + samples
    return np.column_stack(columns)


def main():
    peer, record, output, repeats = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    table = volts_of(record)
    frame = None
    if peer == "pandas":
        import pandas as pd
        frame = pd.DataFrame(table)
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        if frame is None:
            np.savetxt(output, table, fmt="%.9g", delimiter=",")
        else:
            frame.to_csv(output, index=False, header=False)
        times.append(time.perf_counter() - start)
    print(statistics.median(times))


if __name__ == "__main__":
    main()
