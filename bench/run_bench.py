#!/usr/bin/env python3
"""Builds a Release imgpack, generates the benchmark suite and times it.

Each file is converted several times with a warm page cache; where GNU
objcopy is installed it converts the same file in alternation with imgpack
(A B A B ...), the two images are compared byte for byte, and the paired
ratio imgpack/objcopy is reported. imgpack also runs in strict mode
(IMGPACK_STRICT=1) in the same alternation, and the paired ratio strict /
default is reported. With --options the IMGPACK_OPTIONS sets (a fill byte
with a window, the map, a CRC) are timed in alternation with the default
run instead. Small files are converted many times in a
row per timing (1000 times for the start-up row, the shipped example), as a
build pipeline runs the tool, and the time per conversion is quoted. Results go to results.csv and results.md
in the scratch folder, and the Markdown table is printed.
"""

import argparse
import csv
import filecmp
import os
import platform
import shutil
import statistics
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "bench"

# name, srecgen arguments
SUITE = [
    ("s3-32B-lf-1GiB", ["--size", "1G", "--type", "3", "--data", "32"]),
    ("s3-32B-crlf-1GiB", ["--size", "1G", "--type", "3", "--data", "32", "--crlf"]),
    ("s3-16B-lf-1GiB", ["--size", "1G", "--type", "3", "--data", "16"]),
    ("s3-32B-lf-64MiB", ["--size", "64M", "--type", "3", "--data", "32"]),
    ("s3-16B-firmware-1MiB", ["--size", "1M", "--type", "3", "--data", "16", "--start", "0x08000000"]),
    ("s1-32B-64KiB-space", ["--size", "1G", "--type", "1", "--data", "32"]),
]


def build():
    subprocess.run(["cmake", "--preset", "bench"], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", "--preset", "bench"], cwd=ROOT, check=True)


def generate(scratch, names):
    files = {}
    for name, args in SUITE:
        if names and name not in names:
            continue
        path = scratch / f"{name}.s19"
        if not path.exists():
            print(f"generating {path.name}", flush=True)
            subprocess.run([str(BUILD / "srecgen"), *args, str(path)], check=True)
        files[name] = path
    return files


def warm(path):
    with open(path, "rb") as f:
        while f.read(1 << 24):
            pass


def timed(command, repeat, env=None):
    """Runs a command `repeat` times; returns (seconds per run, peak resident KiB, exit status).

    Dirty pages of earlier outputs are written back first, so that the disk
    catching up with one run is not charged to the next."""
    os.sync()
    result = subprocess.run([str(BUILD / "bench" / "timerun"), "-n", str(repeat), *command],
                            check=True, capture_output=True, text=True, env=env)
    seconds, peak_kib, status = result.stdout.split()
    return float(seconds), int(peak_kib), int(status)


def repeats_for(path):
    """Enough conversions per timing that one timing takes about 50 ms or more."""
    if path.name == "blinky.s19":
        return 1000
    return max(1, min(1000, int(64e6 / path.stat().st_size)))


def span_of(path):
    """LowAddr and HiAddr of a file, as the -v trace prints them."""
    trace = subprocess.run([str(BUILD / "imgpack"), str(path), os.devnull, "-v"],
                           check=True, capture_output=True, text=True).stdout.split()
    return int(trace[5], 16), int(trace[8], 16)


def option_variants(path):
    """The IMGPACK_OPTIONS timed beside the default: a fill byte with a window
    over the records' own span, the map, and a CRC stored just after the
    records (the window grows by its four bytes)."""
    low, high = span_of(path)
    return {
        "fill+window": f"--fill=0x00 --start={low:#x} --end={high + 1:#x}",
        "map": "--map",
        "crc32": f"--end={high + 5:#x} --crc32={high + 1:#x}",
    }


def measure_options(path, scratch, runs):
    """Each option set in alternation with the default run: the median time
    and the median of the paired ratios option / default."""
    repeat = repeats_for(path)
    out = scratch / "imgpack-options.bin"
    variants = option_variants(path)
    times = {name: [] for name in ["default", *variants]}
    ratios = {name: [] for name in variants}
    warm(path)
    for _ in range(runs):
        default, _, _ = timed([str(BUILD / "imgpack"), str(path), str(out)], repeat)
        times["default"].append(default)
        for name, options in variants.items():
            seconds, _, status = timed([str(BUILD / "imgpack"), str(path), str(out)], repeat,
                                       dict(os.environ, IMGPACK_OPTIONS=options))
            if status != 0:
                sys.exit(f"imgpack failed on {path} with {options}")
            times[name].append(seconds)
            ratios[name].append(seconds / default)
    out.unlink(missing_ok=True)
    row = {"file": path.stem, "default_s": round(statistics.median(times["default"]), 4)}
    for name in variants:
        row[f"{name}_s"] = round(statistics.median(times[name]), 4)
        row[f"{name}_ratio"] = round(statistics.median(ratios[name]), 3)
    return row


def measure(path, scratch, runs, objcopy):
    repeat = repeats_for(path)
    ours_out = scratch / "imgpack.bin"
    strict_out = scratch / "imgpack-strict.bin"
    theirs_out = scratch / "objcopy.bin"
    strict_env = dict(os.environ, IMGPACK_STRICT="1")
    warm(path)
    ours, strict, theirs, ours_rss, theirs_rss, ratios, strict_ratios = [], [], [], [], [], [], []
    for _ in range(runs):
        seconds, rss, status = timed([str(BUILD / "imgpack"), str(path), str(ours_out)], repeat)
        if status != 0:
            sys.exit(f"imgpack failed on {path}")
        ours.append(seconds)
        ours_rss.append(rss)
        seconds, rss, status = timed([str(BUILD / "imgpack"), str(path), str(strict_out)], repeat,
                                     strict_env)
        if status != 0:
            sys.exit(f"imgpack failed on {path} in strict mode")
        strict.append(seconds)
        strict_ratios.append(seconds / ours[-1])
        if objcopy:
            seconds, rss, status = timed(
                [objcopy, "-I", "srec", "-O", "binary", "--gap-fill", "0xff", str(path), str(theirs_out)],
                repeat)
            if status != 0:
                sys.exit(f"objcopy failed on {path}")
            theirs.append(seconds)
            theirs_rss.append(rss)
            ratios.append(ours[-1] / seconds)
    if not filecmp.cmp(ours_out, strict_out, shallow=False):
        sys.exit(f"strict mode's image differs for {path}")
    identical = None
    if objcopy:
        identical = filecmp.cmp(ours_out, theirs_out, shallow=False)
        if not identical:
            sys.exit(f"images differ for {path}")
    size = path.stat().st_size
    image = ours_out.stat().st_size
    row = {
        "file": path.stem + (f" (x{repeat})" if repeat > 1 else ""),
        "input_mb": round(size / 1e6, 1),
        "image_mb": round(image / 1e6, 1),
        "imgpack_s": round(statistics.median(ours), 5),
        "imgpack_mb_s": round(size / 1e6 / statistics.median(ours)),
        "imgpack_peak_mib": round(max(ours_rss) / 1024, 1),
        "strict_s": round(statistics.median(strict), 5),
        "strict_ratio": round(statistics.median(strict_ratios), 3),
        "objcopy_s": round(statistics.median(theirs), 5) if theirs else "",
        "objcopy_peak_mib": round(max(theirs_rss) / 1024, 1) if theirs else "",
        "ratio": round(statistics.median(ratios), 3) if ratios else "",
        "identical": {None: "n/a", True: "yes", False: "no"}[identical],
    }
    for out in (ours_out, strict_out, theirs_out):
        out.unlink(missing_ok=True)
    return row


def markdown(rows):
    headers = list(rows[0].keys())
    lines = ["| " + " | ".join(headers) + " |", "|" + "---|" * len(headers)]
    for row in rows:
        lines.append("| " + " | ".join(str(row[h]) for h in headers) + " |")
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--scratch", default="/tmp/imgpack-bench", help="folder for the generated files")
    parser.add_argument("--runs", type=int, default=5, help="runs per file and tool (median is quoted)")
    parser.add_argument("--only", nargs="*", default=[], help="names of suite files to run")
    parser.add_argument("--no-build", action="store_true", help="use the existing build/bench")
    parser.add_argument("--options", action="store_true",
                        help="time the IMGPACK_OPTIONS sets against the default run instead")
    args = parser.parse_args()

    if not args.no_build:
        build()
    scratch = Path(args.scratch)
    scratch.mkdir(parents=True, exist_ok=True)
    files = generate(scratch, set(args.only))
    if not args.only or "blinky" in args.only:
        files["blinky"] = ROOT / "examples" / "blinky.s19"  # start-up: 1000 runs per timing
    objcopy = shutil.which("objcopy")
    if not objcopy:
        print("objcopy not found: timing imgpack alone", flush=True)
    rows = []
    for name, path in files.items():
        print(f"timing {name}", flush=True)
        rows.append(measure_options(path, scratch, args.runs) if args.options else
                    measure(path, scratch, args.runs, objcopy))

    with open(scratch / "results.csv", "w", newline="") as f:
        writer = csv.DictWriter(f, fieldnames=list(rows[0].keys()))
        writer.writeheader()
        writer.writerows(rows)
    table = markdown(rows)
    machine = f"{platform.machine()}, {os.cpu_count()} cores, {platform.platform()}"
    (scratch / "results.md").write_text(f"Machine: {machine}\n\n{table}\n")
    print(f"\nMachine: {machine}\n\n{table}\n\n(csv and md in {scratch})")


if __name__ == "__main__":
    main()
