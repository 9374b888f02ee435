#!/usr/bin/python3
"""OpenCV's cv2.resize on the same kind of picture and sizes as bench_image_ops.

A benchmark peer only: run it beside bench/image_ops.cpp and compare the times.
It builds a 4000 x 3000 24-bit photo-like image (smooth shading, hard edges, noise)
and times INTER_LINEAR and INTER_AREA at 50 %, 30 % and 170 %, then the peer of
BM_RotateFree: a 10 degree left turn that samples the source by nearest neighbour
onto a canvas of twice the rotated size (the factor 2 folded into the affine map
given to warpAffine, so no upscaled copy is made) and reduces the canvas by the
2 x 2 mean (INTER_AREA at exactly half), the same work the free rotation does.
bench_image_ops times the same OpenCV calls in C++ (BM_OpenCV*).
"""
import math
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
    canvas = []
    wall, cpu = median_ms(lambda: rotate_free(img, 10.0, canvas), repeats)
    print(f"rotate 10 deg nearest x2 + INTER_AREA {wall:8.1f} ms wall {cpu:8.1f} ms cpu")


def rotate_free(img, degrees, canvas):
    """Canvas of twice the rotated size, sampled by nearest neighbour, then halved.

    The canvas is kept from one call to the next in `canvas` (the free rotation never
    stores one), so its pages are not counted again."""
    h, w = img.shape[:2]
    a = math.radians(degrees)
    c, s = math.cos(a), math.sin(a)
    cx, cy = (w - 1) / 2, (h - 1) / 2
    corners = [(x, y) for x in (0, w - 1) for y in (0, h - 1)]
    cw = int(max(abs(round(4 * (c * (x - cx) - s * (y - cy)))) for x, y in corners))
    ch = int(max(abs(round(4 * (s * (x - cx) + c * (y - cy)))) for x, y in corners))
    # Canvas (x, y) to source, the canvas centre onto the source centre.
    to_source = np.array([[c / 2, -s / 2, w / 2 - (c * cw - s * ch) / 4],
                          [s / 2, c / 2, h / 2 - (s * cw + c * ch) / 4]])
    if not canvas:
        canvas.append(np.empty((ch, cw, 3), np.uint8))
    cv2.warpAffine(img, to_source, (cw, ch), dst=canvas[0], flags=cv2.INTER_NEAREST | cv2.WARP_INVERSE_MAP,
                   borderMode=cv2.BORDER_CONSTANT, borderValue=(255, 255, 255))
    return cv2.resize(canvas[0], (cw // 2, ch // 2), interpolation=cv2.INTER_AREA)


if __name__ == "__main__":
    main()
