#!/usr/bin/python3
"""What reading the settings file costs as it grows: settings_bench's own
Google Benchmark table for ReadStoredVersion on files of about 4 KB, 1 MB and
16 MB (the largest the launcher reads), then the peak memory of one lookup in
the smallest and the largest.

    /usr/bin/python3 bench/settings_cost.py SETTINGS_BENCH SCRATCH [--repetitions N] [FLAGS]

SETTINGS_BENCH is the built bench/settings_bench; the files go to SCRATCH;
further FLAGS go to Google Benchmark.
"""
import argparse
import subprocess
from pathlib import Path


def peak_kib(bench, folder):
    """The peak memory of one lookup in `folder`, in KiB, as the bench reports its own."""
    done = subprocess.run([bench, f"--read-once={folder}"], check=True, capture_output=True)
    return int(done.stdout.split(b"VmHWM:")[1].split()[0])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("bench", type=Path)
    parser.add_argument("scratch", type=Path)
    # At least 2: with one, Google Benchmark 1.7 leaves the largest file out
    # of its table.
    parser.add_argument("--repetitions", type=int, default=5, choices=range(2, 100),
                        metavar="N (2 or more)")
    args, flags = parser.parse_known_args()

    print(f"  One lookup, {args.repetitions} repetitions (cv: their coefficient of variation),"
          " the file\n  from the page cache; bytes_per_second level across sizes (and Google"
          " Benchmark's\n  BigO fit) means the cost is linear.\n", flush=True)
    subprocess.run([args.bench, f"--files={args.scratch}", "--benchmark_counters_tabular=true",
                    f"--benchmark_repetitions={args.repetitions}",
                    "--benchmark_report_aggregates_only=true", *flags],
                   check=True, stderr=subprocess.STDOUT)

    small, large = (peak_kib(args.bench, args.scratch / name) for name in ("4KB", "16MB"))
    size = (args.scratch / "16MB" / "UserDefault.xml").stat().st_size
    print("\n  Peak memory of one lookup (maximum resident set size):")
    print(f"    16 MB file:          {large / 1024:7.1f} MiB")
    print(f"    4 KB file (baseline):{small / 1024:7.1f} MiB  (the program itself)")
    print(f"    the 16 MB file costs {(large - small) / 1024:6.1f} MiB,"
          f" {(large - small) * 1024 / size:.2f}x its size of {size / 1048576:.1f} MiB")


if __name__ == "__main__":
    main()
