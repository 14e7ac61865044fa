#!/usr/bin/env python3
"""Times marlet against `cat in > out` on the same input, page cache warm.

The conversion is pure I/O, so the yardstick is the kernel's own copy. For each
size the input is made with make_pasc, then cat and marlet run in pairs, the
order alternating, each writing over its own output of the last run (so both
times include truncating it); dirty pages are synced before every run. Prints the
median wall time of each, the median of the per-pair ratios, and marlet's peak
resident memory (the largest seen in any run). Needs GNU time (/usr/bin/time).

  compare_with_cat.py --marlet PATH --make-pasc PATH [--sizes 512,64] [--pairs 11] [--dir D]
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

RECORD = 420
MIB = 1 << 20


def timed(argv, stdout, folder):
    """Runs argv; returns its wall time in seconds and its peak RSS in KiB.

    Both commands run under GNU time, which forks from a small process: a child
    spawned straight from Python would report Python's own peak as its own."""
    report = os.path.join(folder, "rss")
    # Written-back output of the last run would otherwise compete with this one.
    os.sync()
    start = time.perf_counter()
    completed = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report, *argv],
                               stdout=stdout, stderr=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    if completed.returncode != 0:
        sys.exit(f"{argv[0]} failed with status {completed.returncode}")
    with open(report) as peak:
        return elapsed, int(peak.read().split()[-1])


def measure(args, size_mib, folder):
    source = os.path.join(folder, f"tape{size_mib}.pas")
    records = size_mib * MIB // RECORD
    subprocess.run([args.make_pasc, "--records", str(records), source], check=True)
    copy = os.path.join(folder, f"copy{size_mib}.pas")

    def run_cat():
        # The shell's truncation of `> out` is part of cat's time, as marlet's
        # own truncation of its output is part of marlet's.
        return timed(["sh", "-c", 'exec cat "$0" > "$1"', source, copy], subprocess.DEVNULL,
                     folder)

    def run_marlet():
        with open(os.devnull, "wb") as console:
            return timed([args.marlet, source], console, folder)

    run_cat()  # warm the page cache and create both outputs
    run_marlet()
    cat_times, marlet_times, ratios, peak = [], [], [], 0
    for pair in range(args.pairs):
        if pair % 2 == 0:
            cat_time, _ = run_cat()
            marlet_time, rss = run_marlet()
        else:
            marlet_time, rss = run_marlet()
            cat_time, _ = run_cat()
        cat_times.append(cat_time)
        marlet_times.append(marlet_time)
        ratios.append(marlet_time / cat_time)
        peak = max(peak, rss)
    for name in (copy, os.path.join(folder, f"tape{size_mib}.mp1"), source):
        os.remove(name)
    return statistics.median(cat_times), statistics.median(marlet_times), statistics.median(ratios), peak


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--marlet", required=True)
    parser.add_argument("--make-pasc", required=True)
    parser.add_argument("--sizes", default="512", help="input sizes in MiB, comma-separated")
    parser.add_argument("--pairs", type=int, default=11)
    parser.add_argument("--dir", default=None,
                        help="where the scratch folder goes (default: the system's temporary folder)")
    args = parser.parse_args()

    with tempfile.TemporaryDirectory(dir=args.dir) as folder:
        print(f"{'input':>8} {'cat':>9} {'marlet':>9} {'ratio':>6} {'peak RSS':>9}")
        for size in (int(s) for s in args.sizes.split(",")):
            cat_time, marlet_time, ratio, peak = measure(args, size, folder)
            print(f"{size:>4} MiB {cat_time:>8.3f}s {marlet_time:>8.3f}s {ratio:>6.3f} "
                  f"{peak / 1024:>5.2f} MiB", flush=True)


if __name__ == "__main__":
    main()
