#!/usr/bin/env python3
"""Acoustic-emission hits with numpy, the peer of the program's hit extraction: the same
definitions (threshold, hit definition, lockout and peak definition times, counts, energy,
background RMS, Akaike onset), vectorised within each hit, timed inside Python.
Usage: hits_numpy.py RECORD THRESHOLD_V HDT_US HLT_US PDT_US REPEATS
       -> the median seconds of one pass over every channel, then the number of hits
"""
import statistics
import sys
import time

import numpy as np

from raw_record import volts_and_rate


def samples_of(micros, rate):
    return max(1, int(np.floor(micros * 1e-6 * rate + 0.5)))


def akaike(x, latest):
    n = x.size
    if n < 4 or min(n - 2, latest) <= 1:
        return 0
    s = np.concatenate(([0.0], np.cumsum(x)))
    q = np.concatenate(([0.0], np.cumsum(x * x)))
    k = np.arange(1, min(n - 2, latest))
    left = k + 1
    right = n - k - 1
    var_left = q[k + 1] / left - (s[k + 1] / left) ** 2
    var_right = (q[n] - q[k + 1]) / right - ((s[n] - s[k + 1]) / right) ** 2
    value = k * np.log(np.maximum(var_left, 1e-30)) + right * np.log(np.maximum(var_right, 1e-30))
    return int(np.argmin(value)) + 2


def peak_of(ks, amp, pdt):
    new = np.concatenate(([True], amp[1:] > np.maximum.accumulate(amp)[:-1]))
    pos = np.maximum.accumulate(np.where(new, np.arange(amp.size), 0))
    before = np.concatenate(([0], pos[:-1]))
    stands = np.flatnonzero(ks - ks[before] > pdt)
    return ks[before[stands[0]]] if stands.size else ks[pos[-1]]


def hits_of(v, threshold, hdt, hlt, pdt, dt):
    loud = np.flatnonzero(np.abs(v) > threshold)
    ends = np.concatenate((np.flatnonzero(np.diff(loud) > hdt), [loud.size - 1]))
    hits = []
    i = 0
    previous_end = 0
    while i < loud.size:
        e = ends[np.searchsorted(ends, i)]
        arrival, last = loud[i], loud[e]
        seg = v[arrival:last + 1]
        ks = loud[i:e + 1]
        peak = peak_of(ks, np.abs(v[ks]), pdt)
        counts = np.count_nonzero((seg[1:] > threshold) & (seg[:-1] <= threshold))
        counts += int(seg[0] > threshold)
        energy = float(np.dot(seg, seg)) * dt
        before = max(previous_end, arrival - max(hdt, 64))
        rms = float(np.sqrt(np.mean(v[before:arrival] ** 2))) if arrival > before else 0.0
        to = min(last + 1, arrival + max(pdt // 2, 8))
        lead = max(before, arrival - 256)
        onset = min(max(lead + akaike(v[lead:to], arrival - lead), lead), arrival)
        hits.append((arrival, onset, peak, last, counts, energy, rms))
        previous_end = last + 1
        i = int(np.searchsorted(loud, last + 1 + hlt))
    return hits


def main():
    path, threshold = sys.argv[1], float(sys.argv[2])
    hdt_us, hlt_us, pdt_us, repeats = (float(sys.argv[3]), float(sys.argv[4]),
                                       float(sys.argv[5]), int(sys.argv[6]))
    channels, rate = volts_and_rate(path)
    hdt, hlt, pdt = (samples_of(t, rate) for t in (hdt_us, hlt_us, pdt_us))
    times = []
    found = 0
    for _ in range(repeats):
        start = time.perf_counter()
        found = sum(len(hits_of(v, threshold, hdt, hlt, pdt, 1.0 / rate)) for v in channels)
        times.append(time.perf_counter() - start)
    print(statistics.median(times))
    print(found)


if __name__ == "__main__":
    main()
