#!/usr/bin/env python3
"""Acoustic-emission hits with numpy, the peer of the program's hit extraction: the same
definitions (threshold, hit definition, lockout from the hit's end and peak definition times,
counts, energy, background RMS, Akaike onset), vectorised within each hit, timed inside Python.
With FLOATING_DB and SENSORS (x1,y1;x2,y2;...) the whole planar search: each channel's
background (the quietest tenth of its stretches) taken off, the threshold that far over its RMS
(never under 1.5 codes), events by onsets within the window and each located by least squares
from the best points of a grid, then once more with each onset weighed by the square of its
hit's peak over the background.
Usage: hits_numpy.py RECORD THRESHOLD_V HDT_US HLT_US PDT_US REPEATS [FLOATING_DB SENSORS]
       (with FLOATING_DB, THRESHOLD_V is the volts of one code)
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
        i = int(np.searchsorted(loud, last + 1 + hdt + hlt))
    return hits


def background(v, code):
    """The mean of the quietest tenth of at most 256 evenly spread stretches of 32 samples of v,
    and the RMS their variance gives, scaled to the whole of Gaussian noise's."""
    length = min(max(v.size // 8, 4), 32)
    total = max(1, v.size // length)
    count = min(total, 256)
    starts = (np.arange(count) * total // count) * length
    pieces = v[starts[:, None] + np.arange(length)[None, :]]
    means = pieces.mean(axis=1)
    variances = np.maximum((pieces * pieces).mean(axis=1) - means ** 2, 0)
    tenth = count // 10
    quiet = np.argpartition(variances, tenth)[:tenth + 1]
    dof = length - 1
    z = -1.2816 if tenth else 0.0
    share = (1 - 2 / (9 * dof) + z * np.sqrt(2 / (9 * dof))) ** 3
    return float(np.mean(means[quiet])), float(np.sqrt(np.max(variances[quiet]) / max(share, 0.1)))


def misfit(sensors, times, weights, speed, x, y):
    """The weighted squared misfits of the times from sources at x, y (arrays), the best
    emission time taken off."""
    r = times[:, None] - np.hypot(x[None, :] - sensors[:, :1], y[None, :] - sensors[:, 1:]) / speed
    mean = (weights[:, None] * r).sum(axis=0) / weights.sum()
    return np.sum(weights[:, None] * (r - mean) ** 2, axis=0)


def descend(sensors, times, weights, speed, size, p, value):
    """Damped Gauss-Newton steps from p: where they end, and the misfit there."""
    damping = 1e-3
    for _ in range(30):
        d = np.maximum(np.hypot(p[0] - sensors[:, 0], p[1] - sensors[:, 1]), size * 1e-9)
        r = speed * times - d
        j = -(p[None, :] - sensors) / d[:, None]
        r = np.sqrt(weights) * (r - (weights * r).sum() / weights.size)
        j = np.sqrt(weights)[:, None] * (j - (weights[:, None] * j).sum(axis=0) / weights.size)
        a = j.T @ j
        a[0, 0] *= 1 + damping
        a[1, 1] *= 1 + damping
        step = -np.linalg.solve(a, j.T @ r)
        nxt = misfit(sensors, times, weights, speed, p[:1] + step[:1], p[1:] + step[1:])[0]
        if nxt < value:
            p, value, damping = p + step, nxt, damping / 10
            if np.hypot(*step) < size * 1e-6:
                break
        else:
            damping *= 10
    return p, value


def locate(sensors, times, weights, speed):
    """The grid and its descents weigh the onsets alike; a last descent weighs them."""
    weights = weights * (weights.size / weights.sum())
    alike = np.ones(weights.size)
    low, high = sensors.min(axis=0), sensors.max(axis=0)
    size = max(float(np.max(high - low)), 1e-9)
    steps = np.arange(9) * (2 * size / 8)
    gx, gy = np.meshgrid((low[0] + high[0] - 2 * size) / 2 + steps,
                         (low[1] + high[1] - 2 * size) / 2 + steps)
    gx, gy = gx.ravel(), gy.ravel()
    values = misfit(sensors, times, alike, speed, gx, gy)
    best, best_value = None, np.inf
    for start in np.argsort(values)[:3]:
        p, value = descend(sensors, times, alike, speed, size,
                           np.array([gx[start], gy[start]]), values[start])
        if value < best_value:
            best, best_value = p, value
    return descend(sensors, times, weights, speed, size, best,
                   misfit(sensors, times, weights, speed, best[:1], best[1:])[0])[0]


def weight(peak, rms):
    """A hit's weight in a planar fix: its peak over the background, squared, 0 to 40 dB."""
    return min(max(peak / rms if rms > 0 else 100.0, 1.0), 100.0) ** 2


def planar_search(channels, rate, threshold_db, sensors, hdt, hlt, pdt, code):
    found = []
    for c, v in enumerate(channels):
        mean, rms = background(v, code)
        threshold = max(rms * 10 ** (threshold_db / 20), 1.5 * code)
        quiet = v - mean
        found += [(h[1], c, weight(abs(quiet[h[2]]), h[6]))
                  for h in hits_of(quiet, threshold, hdt, hlt, pdt, 1.0 / rate)]
    found.sort()
    speed = 3000.0
    window = 1.1 * max(np.hypot(*(a - b)) for a in sensors for b in sensors) / speed + 10 / rate
    located = 0
    i = 0
    while i < len(found):
        start, channels_hit, j = found[i][0], {}, i
        while j < len(found) and (found[j][0] - start) / rate <= window \
                and found[j][1] not in channels_hit:
            channels_hit[found[j][1]] = (found[j][0] / rate, found[j][2])
            j += 1
        placed = [c for c in channels_hit if c < len(sensors)]
        if len(placed) >= 3:
            locate(sensors[placed], np.array([channels_hit[c][0] for c in placed]),
                   np.array([channels_hit[c][1] for c in placed]), speed)
            located += 1
        i = j
    return len(found)


def main():
    path, threshold = sys.argv[1], float(sys.argv[2])
    hdt_us, hlt_us, pdt_us, repeats = (float(sys.argv[3]), float(sys.argv[4]),
                                       float(sys.argv[5]), int(sys.argv[6]))
    channels, rate = volts_and_rate(path)
    hdt, hlt, pdt = (samples_of(t, rate) for t in (hdt_us, hlt_us, pdt_us))
    planar = len(sys.argv) > 8
    if planar:
        floating_db = float(sys.argv[7])
        sensors = np.array([[float(n) for n in p.split(",")] for p in sys.argv[8].split(";")])
    times = []
    found = 0
    for _ in range(repeats):
        start = time.perf_counter()
        if planar:
            found = planar_search(channels, rate, floating_db, sensors, hdt, hlt, pdt, threshold)
        else:
            found = sum(len(hits_of(v, threshold, hdt, hlt, pdt, 1.0 / rate)) for v in channels)
        times.append(time.perf_counter() - start)
    print(statistics.median(times))
    print(found)


if __name__ == "__main__":
    main()
