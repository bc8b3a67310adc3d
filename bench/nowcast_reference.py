#!/usr/bin/env python3
"""The reference extrapolation of the nowcast bench, an independent
implementation with OpenCV (Debian's python3-opencv): DIS optical flow at
its medium preset on the levels scaled by 18 and blurred with sigma 2 px,
the flow averaged over the last three frame pairs and smoothed with sigma
8 px, and the newest levels carried along it by backward semi-Lagrangian
advection, one five-minute step at a time, sampled at the nearest pixel.

For every position with seven frames up to it and the frame 30 minutes
after it, prints the hits, misses and false alarms summed over the
positions, one line per lead and threshold:

    LEAD THRESHOLD HITS MISSES FALSE_ALARMS

and "ms MEDIAN", the median time of a forecast.

    nowcast_reference.py --frames DIR --legend "r,g,b;r,g,b;..." \
        [--history 7] [--high-level 8]
"""
import argparse
import glob
import os
import time

import cv2
import numpy as np

LEADS = (10, 20, 30)
STEP_MINUTES = 5
PAIRS = 3


def levels_of(path, legend):
    bgra = cv2.imread(path, cv2.IMREAD_UNCHANGED)
    if bgra is None or bgra.ndim != 3 or bgra.shape[2] != 4:
        raise SystemExit(f"{path}: not an RGBA picture")
    levels = np.zeros(bgra.shape[:2], np.uint8)
    opaque = bgra[:, :, 3] == 255
    for index, (red, green, blue) in enumerate(legend, start=1):
        match = (opaque & (bgra[:, :, 2] == red) & (bgra[:, :, 1] == green)
                 & (bgra[:, :, 0] == blue))
        levels[match] = index
    return levels


def flow_image(levels):
    scaled = np.clip(levels.astype(np.float32) * 18, 0, 255)
    return np.clip(cv2.GaussianBlur(scaled, (0, 0), 2), 0, 255).astype(np.uint8)


def forecast(history, dis):
    flows = []
    for older, newer in zip(history[-PAIRS - 1:-1], history[-PAIRS:]):
        flows.append(dis.calc(flow_image(older), flow_image(newer), None))
    flow = np.mean(flows, axis=0)
    flow_x = cv2.GaussianBlur(flow[:, :, 0], (0, 0), 8)
    flow_y = cv2.GaussianBlur(flow[:, :, 1], (0, 0), 8)
    height, width = history[-1].shape
    from_x, from_y = np.meshgrid(np.arange(width, dtype=np.float32),
                                 np.arange(height, dtype=np.float32))
    leads = []
    for _ in range(max(LEADS) // STEP_MINUTES):
        back_x = cv2.remap(flow_x, from_x, from_y, cv2.INTER_LINEAR,
                           borderMode=cv2.BORDER_REPLICATE)
        back_y = cv2.remap(flow_y, from_x, from_y, cv2.INTER_LINEAR,
                           borderMode=cv2.BORDER_REPLICATE)
        from_x = from_x - back_x
        from_y = from_y - back_y
        leads.append(cv2.remap(history[-1], from_x, from_y, cv2.INTER_NEAREST,
                               borderMode=cv2.BORDER_CONSTANT, borderValue=0))
    return leads


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--frames", required=True)
    parser.add_argument("--legend", required=True)
    parser.add_argument("--history", type=int, default=7)
    parser.add_argument("--high-level", type=int, default=8)
    arguments = parser.parse_args()
    legend = [tuple(int(value) for value in item.split(","))
              for item in arguments.legend.split(";")]
    paths = sorted(glob.glob(os.path.join(arguments.frames, "*.png")))
    levels = [levels_of(path, legend) for path in paths]
    dis = cv2.DISOpticalFlow_create(cv2.DISOPTICAL_FLOW_PRESET_MEDIUM)
    thresholds = (1, arguments.high_level)
    counts = {(lead, threshold): [0, 0, 0] for lead in LEADS for threshold in thresholds}
    times = []
    last_step = max(LEADS) // STEP_MINUTES
    for newest in range(arguments.history - 1, len(levels) - last_step):
        start = time.perf_counter()
        leads = forecast(levels[newest - arguments.history + 1:newest + 1], dis)
        times.append((time.perf_counter() - start) * 1000)
        for lead in LEADS:
            steps = lead // STEP_MINUTES
            observed = levels[newest + steps]
            for threshold in thresholds:
                predicted = leads[steps - 1] >= threshold
                seen = observed >= threshold
                entry = counts[(lead, threshold)]
                entry[0] += int(np.count_nonzero(predicted & seen))
                entry[1] += int(np.count_nonzero(~predicted & seen))
                entry[2] += int(np.count_nonzero(predicted & ~seen))
    for (lead, threshold), (hits, misses, false_alarms) in sorted(counts.items()):
        print(lead, threshold, hits, misses, false_alarms)
    print("ms", sorted(times)[len(times) // 2])


if __name__ == "__main__":
    main()
