#!/usr/bin/python3
"""OpenCV's cv2.resize on the same kind of picture and sizes as bench_image_ops.

A benchmark peer only: run it beside bench/image_ops.cpp and compare the times.
It builds a 4000 x 3000 24-bit photo-like image (smooth shading, hard edges, noise)
and times INTER_LINEAR and INTER_AREA at 50 %, 30 % and 170 %.
"""
import sys
import time

import cv2
import numpy as np


def photo():
    h, w = 3000, 4000
    y, x = np.mgrid[0:h, 0:w].astype(np.float64)
    sky = 90 + 60 * np.sin(x / 700.0) * np.cos(y / 500.0)
    obj = (np.hypot(x - 2200, y - 1700) < 600) | ((x > 500) & (x < 1200) & (y > 1800))
    base = np.where(obj, 200 - y / 40.0, sky)
    rng = np.random.default_rng(42)
    img = np.empty((h, w, 3), np.uint8)
    for c in range(3):
        img[..., c] = np.clip(base * (0.8 + 0.15 * c) + rng.normal(0, 6, (h, w)), 0, 255)
    return img


def median_ms(fn, repeats):
    """Median wall time and median process CPU time (all threads), in ms."""
    wall, cpu = [], []
    for _ in range(repeats):
        start, start_cpu = time.perf_counter(), time.process_time()
        fn()
        wall.append((time.perf_counter() - start) * 1000)
        cpu.append((time.process_time() - start_cpu) * 1000)
    wall.sort()
    cpu.sort()
    return wall[len(wall) // 2], cpu[len(cpu) // 2]


def main():
    repeats = int(sys.argv[1]) if len(sys.argv) > 1 else 7
    img = photo()
    print(f"OpenCV {cv2.__version__}, {cv2.getNumThreads()} threads")
    for percent in (50, 30, 170):
        size = (4000 * percent // 100, 3000 * percent // 100)
        for name, flag in (("INTER_LINEAR", cv2.INTER_LINEAR), ("INTER_AREA", cv2.INTER_AREA)):
            wall, cpu = median_ms(lambda: cv2.resize(img, size, interpolation=flag), repeats)
            print(f"resize {percent:3d}% {name:12s} {wall:8.1f} ms wall {cpu:8.1f} ms cpu")


if __name__ == "__main__":
    main()
