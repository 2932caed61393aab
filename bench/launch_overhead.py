#!/usr/bin/env python3
"""How long the player waits for the game after starting Pelterin, under Wine.

Four starters start the same game, a fake Slots.exe 1.0.4.0 that writes the
moment it began running into a record file: Pelterin in a typical run (it
starts that download), required_work_starter (exactly the work the launcher's
job requires, the simplest way), bare_starter (nothing but CreateProcessW)
and window_starter (a hidden window first). A run's time is that moment
minus the moment just before `wine` is spawned. The starters take turns, so
that drift in the machine's load falls on all alike; the first rounds are
dropped. The figure with a target is the median of the pairwise ratios of
each Pelterin run over the required-work run right after it, with a 95 %
bootstrap interval: when the interval spans the target, more runs are needed
before calling it either way. BENCHMARKS.md says more of the method.

Needs an X display (xvfb-run): Wine's first window needs one, and the Wine
session must begin with it. Measures the build of PELTERIN_WINE_ARCH (win32,
the default, or win64) in a Wine prefix of its own, with one wineserver for
the whole measurement, so nothing disturbs the tests' prefix; --in-session
uses the prefix and wineserver already running instead, as its smoke test
among the Windows tests does. A Notepad holds Wine's desktop open meanwhile,
as the shell does on Windows: Wine closes it a second after the last window,
and the next windowed start would pay about 100 ms to open it again.
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
from wine_tree import (WINE_RUN, download_path, read_records, set_local_app_data,  # noqa: E402
                       wine, wine_path, write_settings)

# FILETIME counts 100 ns units from 1601-01-01; Unix time from 1970-01-01.
FILETIME_UNIX_EPOCH = 116444736000000000
STARTERS = ("Pelterin", "required_work_starter", "bare_starter", "window_starter")
# Pelterin / required_work_starter, median of the pairwise ratios; never enforced.
TARGET = 1.02
# scripts/wine-run reads the architecture from the environment too.
WINE_ARCH = os.environ.get("PELTERIN_WINE_ARCH", "win32")


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runs", type=int, default=45,
                        help="measured runs per starter (45, the default, for a figure to report)")
    parser.add_argument("--warmup", type=int, default=2, help="rounds run first and dropped")
    parser.add_argument("--build", type=Path, required=True, help="the Windows build tree")
    parser.add_argument("--scratch", type=Path, default=ROOT / "build" / "bench-scratch" / "launch")
    parser.add_argument("--prefix", type=Path, default=ROOT / "build" / f"bench-wineprefix-{WINE_ARCH}")
    parser.add_argument("--timeout", type=float, default=30.0, help="seconds to wait for a game")
    parser.add_argument("--pause", type=float, default=0.3, help="seconds between runs")
    parser.add_argument("--verbose", action="store_true", help="print every run")
    parser.add_argument("--in-session", action="store_true",
                        help="use the running wineserver and its prefix, not a prefix of its own")
    return parser.parse_args()


class Bench:
    def __init__(self, args):
        self.args = args
        self.env = dict(os.environ, **({} if args.in_session else {"WINEPREFIX": str(args.prefix)}))
        scratch = args.scratch
        self.install = scratch / "Games" / "Orvellane"
        self.local_app_data = scratch / "AppData" / "Local"
        self.records = scratch / "records"
        self.download = download_path(self.local_app_data / "Orvellane", "1.0.4.0")
        self.run_env = dict(self.env, PELTERIN_RECORD_DIR=wine_path(self.records))

    # --- setting up -------------------------------------------------------

    def lay_out(self):
        build = self.args.build
        sources = {
            "Pelterin.exe": build / "frameworks" / "runtime-src" / "proj.win32" / "Pelterin.exe",
            "bare_starter.exe": build / "bench" / "bare_starter.exe",
            "window_starter.exe": build / "bench" / "window_starter.exe",
            "required_work_starter.exe": build / "bench" / "required_work_starter.exe",
            "Slots.exe": build / "tests" / "win" / "fake_game_1.0.3.0.exe",
        }
        game = build / "tests" / "win" / "fake_game_1.0.4.0.exe"
        missing = [str(p) for p in [*sources.values(), game] if not p.is_file()]
        if missing:
            sys.exit("launch_overhead: not built: " + ", ".join(missing))
        shutil.rmtree(self.args.scratch, ignore_errors=True)
        self.install.mkdir(parents=True)
        self.records.mkdir(parents=True)
        self.download.parent.mkdir(parents=True)
        for name, source in sources.items():
            shutil.copy(source, self.install / name)
        shutil.copy(game, self.download)
        write_settings(self.install, "1.0.4.0")

    def start_session(self):
        # The server and its services stay up between runs, as they are on a
        # player's Windows, instead of starting with each run.
        if not self.args.in_session:
            wine("--start-session", env=self.env, check=True, timeout=300)
        set_local_app_data(wine_path(self.local_app_data), env=self.env)
        self.desktop_holder = subprocess.Popen(
            [WINE_RUN, "notepad.exe"], env=self.env, stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(2)  # its window is up, so the desktop is
        if self.desktop_holder.poll() is not None:
            raise RuntimeError("Notepad, which holds Wine's desktop open, did not stay up")

    def end_session(self):
        holder = getattr(self, "desktop_holder", None)
        if holder and holder.poll() is None:
            holder.kill()
            holder.wait()
        if not self.args.in_session:
            wine("--end-session", env=self.env)

    # --- measuring --------------------------------------------------------

    def command(self, starter):
        exe = wine_path(self.install / f"{starter}.exe")
        return [exe] if starter == "Pelterin" else [exe, wine_path(self.download)]

    def run_once(self, starter):
        """(ms until the game ran, ms until the starter's wine ended)."""
        for old in self.records.iterdir():
            old.unlink()
        command = [WINE_RUN, *self.command(starter)]
        start = time.time()
        process = subprocess.Popen(command, cwd=self.install, env=self.run_env,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        ended = None
        recorded = False
        deadline = time.monotonic() + self.args.timeout
        while not recorded or ended is None:
            if ended is None and process.poll() is not None:
                ended = time.time()
                if process.returncode != 0:  # a starter that failed starts nothing
                    deadline = min(deadline, time.monotonic() + 2)
            recorded = recorded or any(self.records.glob("*.txt"))
            if time.monotonic() > deadline:
                if ended is None:
                    process.kill()
                    process.wait()
                raise RuntimeError(f"{starter}: no game started (exit code {process.returncode})")
            time.sleep(0.002)
        fields = read_records(self.records)[0]
        if fields.get("path", "").lower() != wine_path(self.download).lower():
            raise RuntimeError(f"{starter} started {fields.get('path')!r}, not the download")
        game_started = (int(fields["filetime"]) - FILETIME_UNIX_EPOCH) / 1e7
        return (game_started - start) * 1000, (ended - start) * 1000

    def measure(self):
        self.failed_runs = []
        times = {s: [] for s in STARTERS}
        exits = {s: [] for s in STARTERS}
        rounds = self.args.warmup + self.args.runs
        for round_number in range(rounds):
            for starter in STARTERS:
                try:
                    to_game, to_exit = self.run_once(starter)
                except RuntimeError as error:
                    # Wine now and then fails a window or a process start; the
                    # run is taken again once, and the report says so.
                    self.failed_runs.append(f"round {round_number + 1}: {error}")
                    time.sleep(self.args.pause)
                    to_game, to_exit = self.run_once(starter)
                if round_number >= self.args.warmup:
                    times[starter].append(to_game)
                    exits[starter].append(to_exit)
                if self.args.verbose:
                    kind = "warm-up" if round_number < self.args.warmup else "run"
                    print(f"  {kind} {round_number + 1:2d} {starter:15s} "
                          f"game after {to_game:7.1f} ms, exited after {to_exit:7.1f} ms",
                          flush=True)
                time.sleep(self.args.pause)
        return times, exits


def interval(statistic, *samples, rounds=4000):
    """95 % bootstrap interval of statistic(*samples)."""
    draw = random.Random(1601)  # the same interval for the same runs
    values = sorted(statistic(*(draw.choices(sample, k=len(sample)) for sample in samples))
                    for _ in range(rounds))
    return values[int(rounds * 0.025)], values[int(rounds * 0.975) - 1]


def ratio_of_medians(top, bottom):
    return statistics.median(top) / statistics.median(bottom)


def quartiles(values):
    if len(values) < 2:
        return values[0], values[0]
    q = statistics.quantiles(values, n=4)
    return q[0], q[2]


def report(args, times, exits):
    print(f"Time from spawning `wine <starter>` until the game runs "
          f"(median of {args.runs} interleaved runs each, {args.warmup} warm-up rounds dropped)")
    print()
    print(f"  {'starter':22s} {'median':>9s} {'q1':>9s} {'q3':>9s} {'min':>9s} {'max':>9s}"
          f"   {'starter exited':>14s}")
    medians = {}
    for starter in STARTERS:
        values = times[starter]
        medians[starter] = statistics.median(values)
        q1, q3 = quartiles(values)
        print(f"  {starter:22s} {medians[starter]:6.1f} ms {q1:6.1f} ms {q3:6.1f} ms "
              f"{min(values):6.1f} ms {max(values):6.1f} ms   "
              f"{statistics.median(exits[starter]):11.1f} ms")
    print()
    pelterin, required, bare, window = (medians[s] for s in STARTERS)

    def between(top, bottom):
        low, high = interval(ratio_of_medians, times[top], times[bottom])
        return f"[{low:5.3f}, {high:5.3f}]"

    pairwise = [p / r for p, r in zip(times["Pelterin"], times["required_work_starter"])]
    ratio = statistics.median(pairwise)
    low, high = interval(statistics.median, pairwise)
    verdict = "met" if ratio <= TARGET else "not met"
    if low <= TARGET <= high:
        verdict += ", within the noise"
    print(f"  Pelterin / required_work_starter, median of {len(pairwise)} pairwise ratios:"
          f" {ratio:5.3f}x  [{low:5.3f}, {high:5.3f}]")
    print(f"    target <= {TARGET:.2f}x: {verdict} (medians: Pelterin's own code"
          f" {pelterin - required:+.1f} ms)")
    print()
    print(f"  {'ratio of medians':27s} {'':6s}   95 % interval")
    print(f"  Pelterin / window_starter   {pelterin / window:5.3f}x  "
          f"{between('Pelterin', 'window_starter')}")
    print(f"  Pelterin / bare_starter     {pelterin / bare:5.3f}x  "
          f"{between('Pelterin', 'bare_starter')}")
    print(f"  required / window_starter   {required / window:5.3f}x  "
          f"{between('required_work_starter', 'window_starter')}"
          f"   the required work beyond the window: {required - window:+.1f} ms")
    print(f"  window / bare_starter       {window / bare:5.3f}x  "
          f"{between('window_starter', 'bare_starter')}"
          f"   the cost of a window under Wine: {window - bare:+.1f} ms")
    # Other work on the machine only ever adds time, so the fastest runs are
    # the least disturbed: their ratio is a cross-check on a busy machine.
    fastest = {s: min(times[s]) for s in STARTERS}
    print(f"  on the fastest runs:        Pelterin / required "
          f"{fastest['Pelterin'] / fastest['required_work_starter']:5.3f}x, Pelterin / window "
          f"{fastest['Pelterin'] / fastest['window_starter']:5.3f}x, window / bare "
          f"{fastest['window_starter'] / fastest['bare_starter']:5.3f}x")


def main():
    args = parse_args()
    if args.runs < 1 or args.warmup < 0:
        sys.exit("launch_overhead: --runs must be at least 1 and --warmup at least 0")
    if not os.environ.get("DISPLAY"):
        sys.exit("launch_overhead: needs an X display; run it under xvfb-run -a")
    bench = Bench(args)
    bench.lay_out()
    try:
        bench.start_session()
        times, exits = bench.measure()
    except (RuntimeError, subprocess.CalledProcessError) as error:
        sys.exit(f"launch_overhead: {error}")
    finally:
        bench.end_session()
    report(args, times, exits)
    for failure in bench.failed_runs:
        print(f"  run taken again after a failed start, {failure}")


if __name__ == "__main__":
    main()
