#!/usr/bin/python3
"""Runs the benchmarks that have a peer and prints ours, the peer and their ratio.

Usage: bench/speed_table.py [BUILD_DIR] [REPETITIONS] [FIGURE]
BUILD_DIR is a Release build (default build/release); REPETITIONS defaults to 3 and
the medians are compared.  FIGURE limits the table to the figures whose name holds
that text ("simplify", "bilinear"), and runs only the benchmarks they need.  Every
pair comes from one invocation of one benchmark program, whose repetitions of ours
and of the peer are interleaved, so both see the same machine load.  A benchmark
whose peer is missing (an optional package not installed) is reported as skipped.
"""
import json
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# (program, figure, ours, peer, target ratio or None, what is compared)
PAIRS = [
    ("bench_recon", "whole reconstruct, sample", "BM_ReconstructSample", "BM_SampleSgbmPeer/0", 1.5, "time"),
    ("bench_recon", "whole reconstruct, aloe", "BM_ReconstructAloe", "BM_AloeSgbmPeer/0", 2.0, "time"),
    ("bench_meshopt_peer", "simplify sample to 20,000 vertices", "BM_SimplifyCommandSampleTo20kVertices",
     "BM_MeshoptSimplifySampleToAbout20kVertices", 2.0, "time"),
    ("bench_meshopt_peer", "Melax 1 M terrain to 10,000", "BM_MelaxReduce1MTo10kVertices",
     "BM_MeshoptSimplify1MtoAbout10kVertices", 2.0, "time"),
    ("bench_png_codec", "PNG size, photo", "EncodeOurs/0", "EncodeLibpng/0", 1.02, "bytes"),
    ("bench_png_codec", "PNG size, synthetic", "EncodeOurs/1", "EncodeLibpng/1", 1.02, "bytes"),
    ("bench_png_codec", "PNG encode time, photo", "EncodeOurs/0", "EncodeLibpng/0", 1.0, "time"),
    ("bench_image_ops", "bilinear 50 %", "BM_BilinearResize/50", "BM_OpenCVResize/50/1", 1.5, "time"),
    ("bench_image_ops", "bilinear 30 %", "BM_BilinearResize/30", "BM_OpenCVResize/30/1", 1.5, "time"),
    ("bench_image_ops", "bilinear 170 %", "BM_BilinearResize/170", "BM_OpenCVResize/170/1", 1.5, "time"),
    ("bench_image_ops", "area 50 %", "BM_SmartResize/50", "BM_OpenCVResize/50/3", 1.5, "time"),
    ("bench_image_ops", "area 30 %", "BM_SmartResize/30", "BM_OpenCVResize/30/3", 1.5, "time"),
    ("bench_image_ops", "free rotation 10°", "BM_RotateFree", "BM_OpenCVRotateFree", 1.5, "time"),
    ("bench_osmesa_peer", "Gouraud 2 M triangles, 800 x 600", "BM_OursGouraud", "BM_MesaGouraud", None, "time"),
    # No peer: the target is a frame time in ms (30 frames per second).
    ("bench_render", "Gouraud 2 M triangles, 800 x 600, a frame", "BM_Gouraud", None, 33.3, "time"),
    ("bench_render", "viewer redraw of the sample", "BM_ViewerRedrawSampleGouraud", None, 33.3, "time"),
]


def run(program, build, repetitions, pairs):
    names = {p[2] for p in pairs if p[0] == program} | {p[3] for p in pairs if p[0] == program and p[3]}
    pattern = "|".join("^" + n + "(/|$)" for n in sorted(names))
    path = os.path.join(build, program)
    if not os.path.exists(path):
        return {}
    out = subprocess.run([path, "--benchmark_filter=" + pattern, "--benchmark_format=json",
                          "--benchmark_repetitions=%d" % repetitions, "--benchmark_report_aggregates_only=true",
                          # Ours and the peer take turns, so that a slow spell of a shared
                          # machine falls on both rather than on one of them.
                          "--benchmark_enable_random_interleaving=true"],
                         capture_output=True, text=True, check=False)
    try:
        report = json.loads(out.stdout)
    except json.JSONDecodeError:
        return {}
    medians = {}
    for b in report.get("benchmarks", []):
        # The median of the repetitions, or the one run when there is one.
        wanted = "median" if repetitions > 1 else None
        if b.get("aggregate_name") != wanted or b.get("error_occurred"):
            continue
        # "BM_X/50/iterations:3/min_warmup_time:0.300/process_time/real_time" -> "BM_X/50"
        parts = [p for p in b["run_name"].split("/")
                 if not p.startswith(("iterations:", "min_warmup_time:", "min_time:"))
                 and p not in ("process_time", "real_time")]
        medians["/".join(parts)] = b
    return medians


def to_ms(b, key):
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b.get("time_unit", "ns")]
    return b[key] * scale


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "release")
    repetitions = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    wanted = sys.argv[3].lower() if len(sys.argv) > 3 else ""
    pairs = [p for p in PAIRS if wanted in p[1].lower()]
    if not pairs:
        sys.exit("no figure's name holds " + repr(sys.argv[3]))
    results = {}
    print("| figure | ours | peer | ratio (wall) | ratio (CPU) | target |")
    print("|---|---|---|---|---|---|")
    for program, figure, ours, peer, target, what in pairs:
        if program not in results:
            results[program] = run(program, build, repetitions, pairs)
        a, b = results[program].get(ours), results[program].get(peer) if peer else None
        if a and not peer:
            wall, cpu = to_ms(a, "real_time"), to_ms(a, "cpu_time")
            print(f"| {figure} | {wall:,.1f} ms ({cpu:,.1f} CPU) = {1000 / wall:.1f} per second | - | | "
                  f"| ≤ {target} ms |")
            continue
        if not a or not b:
            print(f"| {figure} | skipped | skipped | | | |")
            continue
        goal = f"≤ {target}×" if target else ""
        if what == "bytes":
            x, y = a["bytes"], b["bytes"]
            print(f"| {figure} | {x:,.0f} B | {y:,.0f} B | {x / y:.3f}× | | {goal} |")
            continue
        wall_a, wall_b = to_ms(a, "real_time"), to_ms(b, "real_time")
        cpu_a, cpu_b = to_ms(a, "cpu_time"), to_ms(b, "cpu_time")
        print(f"| {figure} | {wall_a:,.1f} ms ({cpu_a:,.1f} CPU) | {wall_b:,.1f} ms ({cpu_b:,.1f} CPU) "
              f"| {wall_a / wall_b:.2f}× | {cpu_a / cpu_b:.2f}× | {goal} |")


if __name__ == "__main__":
    main()
