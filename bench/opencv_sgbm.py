#!/usr/bin/python3
"""Times OpenCV's StereoSGBM (numDisparities 128, blockSize 5) on the warped sample
pair, the peer figure for the dispersion map benchmark (BM_DispersionMap in
bench/recon.cpp).  bench/recon_methods.cpp compares the program's own semi-global
matcher (which uses OpenCV inside recon/) with StereoSGBM on the original pairs.

Usage: bench/opencv_sgbm.py [WARPED1 WARPED2]
Without arguments the warped pair is made from samples/sample.kst by the command
line tool (stereoquill-cli reconstruct --save-warped): the one named by the
environment variable STEREOQUILL_CLI, else build/release/stereoquill-cli.
"""
import os
import subprocess
import sys
import tempfile
import time

import cv2

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def warped_pair():
    if len(sys.argv) == 3:
        return sys.argv[1], sys.argv[2]
    cli = os.environ.get("STEREOQUILL_CLI", os.path.join(ROOT, "build", "release", "stereoquill-cli"))
    prefix = os.path.join(tempfile.mkdtemp(prefix="sq_sgbm_"), "warped")
    subprocess.run([cli, "reconstruct", os.path.join(ROOT, "samples", "sample.kst"),
                    "-o", prefix + ".m3d", "--save-warped", prefix, "--quiet"],
                   check=True, stdout=subprocess.DEVNULL)
    return prefix + "1.png", prefix + "2.png"


def main():
    path1, path2 = warped_pair()
    left, right = cv2.imread(path1), cv2.imread(path2)
    matchers = {
        "SGBM": cv2.StereoSGBM_create(0, 128, 5),
        "SGBM_3WAY": cv2.StereoSGBM_create(0, 128, 5, mode=cv2.STEREO_SGBM_MODE_SGBM_3WAY),
    }
    print(f"pair {left.shape[1]} x {left.shape[0]}, OpenCV {cv2.__version__}, {cv2.getNumThreads()} threads")
    for name, matcher in matchers.items():
        matcher.compute(left, right)  # warm-up
        wall, cpu = [], []
        for _ in range(5):
            w0, c0 = time.perf_counter(), time.process_time()
            matcher.compute(left, right)
            wall.append(time.perf_counter() - w0)
            cpu.append(time.process_time() - c0)
        print(f"{name:10s} wall {min(wall) * 1000:8.1f} ms   cpu {min(cpu) * 1000:8.1f} ms   (best of 5)")


if __name__ == "__main__":
    main()
