#!/usr/bin/env python3
"""The peers of the CSV export, timed inside Python (the interpreter's start not counted):
numpy.savetxt (fmt "%.9g") or pandas to_csv of the volts the program exports for a record.
Usage: export_peers.py numpy|pandas RECORD OUTPUT REPEATS   -> the median seconds of a write
"""
import statistics
import sys
import time

import numpy as np

from raw_record import volts_and_rate


def volts_of(path):
    channels, rate = volts_and_rate(path)
    return np.column_stack([np.arange(channels[0].size) / rate] + channels)


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
