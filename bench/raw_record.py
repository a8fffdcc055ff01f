"""A record file read with numpy for the benchmarks' Python peers: each channel's volts as the
program's readouts show them, and the sampling frequency."""
import numpy as np


def volts_and_rate(path):
    data = open(path, "rb").read()
    header = data[8:264]
    channels = int.from_bytes(header[0:2], "little")
    samples = int.from_bytes(header[6:10], "little")
    clock = int.from_bytes(header[12:14], "little")
    ticks = int.from_bytes(header[14:18], "little", signed=True)
    detector = header[42] != 0
    out = []
    at = 264
    for _ in range(channels):
        gain = data[at]
        codes = np.frombuffer(data, dtype=np.int8, count=samples, offset=at + 16)
        factor = (4096 >> gain) / 2.0 ** 20 if gain < 13 else 0.0
        out.append((codes + 128) * 2.5 * factor if detector else codes * 5.0 * factor)
        at += 16 + samples
    return out, clock * 1000.0 / ticks
