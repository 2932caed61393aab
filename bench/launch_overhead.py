#!/usr/bin/env python3
"""How long the player waits for the game after starting Pelterin, under Wine.

Pelterin in a typical run, required_work_starter (the work the launcher's job
requires, the simplest way), bare_starter (CreateProcessW alone) and
window_starter (a hidden window first) take turns starting the same fake
Slots.exe 1.0.4.0, which records when it began: a run's time is that moment
minus the moment before `wine` is spawned. The figure with a target is the
median of the ratios of each Pelterin run over the required-work run right
after it, with a 95 % bootstrap interval (one that spans the target needs
more runs). Needs an X display. Measures the build of PELTERIN_WINE_ARCH in a
Wine prefix of its own, or with --in-session in the running one. A Notepad
holds Wine's desktop open, as the shell does on Windows: Wine closes it a
second after the last window, and the next start would pay ~100 ms to reopen it.
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

FILETIME_UNIX_EPOCH = 116444736000000000  # 100 ns units from 1601 to 1970
STARTERS = ("Pelterin", "required_work_starter", "bare_starter", "window_starter")
TARGET = 1.02  # Pelterin / required_work_starter, median of the pairwise ratios; not enforced
GAME_TIMEOUT, PAUSE = 30.0, 0.3  # seconds to wait for a game, and between runs
WINE_ARCH = os.environ.get("PELTERIN_WINE_ARCH", "win32")  # which scripts/wine-run reads too


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    add = parser.add_argument
    add("--runs", type=int, default=45, help="runs per starter (45 for a figure to report)")
    add("--warmup", type=int, default=2, help="rounds run first and dropped")
    add("--build", type=Path, required=True, help="the Windows build tree")
    add("--scratch", type=Path, default=ROOT / "build" / "bench-scratch" / "launch")
    add("--prefix", type=Path, default=ROOT / "build" / f"bench-wineprefix-{WINE_ARCH}")
    add("--in-session", action="store_true", help="use the running wineserver and its prefix")
    return parser.parse_args()


class Bench:
    def __init__(self, args):
        self.args = args
        self.env = dict(os.environ, **({} if args.in_session else {"WINEPREFIX": str(args.prefix)}))
        self.install = args.scratch / "Games" / "Orvellane"
        self.local_app_data = args.scratch / "AppData" / "Local"
        self.records = args.scratch / "records"
        self.download = download_path(self.local_app_data / "Orvellane", "1.0.4.0")
        self.run_env = dict(self.env, PELTERIN_RECORD_DIR=wine_path(self.records))

    def lay_out(self):
        build = self.args.build
        sources = {f"{s}.exe": build / "bench" / f"{s}.exe" for s in STARTERS[1:]}
        sources["Pelterin.exe"] = build / "frameworks/runtime-src/proj.win32/Pelterin.exe"
        sources["Slots.exe"] = build / "tests" / "win" / "fake_game_1.0.3.0.exe"
        game = build / "tests" / "win" / "fake_game_1.0.4.0.exe"
        missing = [str(p) for p in [*sources.values(), game] if not p.is_file()]
        if missing:
            sys.exit("launch_overhead: not built: " + ", ".join(missing))
        shutil.rmtree(self.args.scratch, ignore_errors=True)
        for folder in (self.install, self.records, self.download.parent):
            folder.mkdir(parents=True)
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

    def run_once(self, starter):
        """(ms until the game ran, ms until the starter's wine ended)."""
        for old in self.records.iterdir():
            old.unlink()
        command = [WINE_RUN, wine_path(self.install / f"{starter}.exe")]
        command += [] if starter == "Pelterin" else [wine_path(self.download)]
        start = time.time()
        process = subprocess.Popen(command, cwd=self.install, env=self.run_env,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        ended, recorded = None, False
        deadline = time.monotonic() + GAME_TIMEOUT
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
        times, exits = {s: [] for s in STARTERS}, {s: [] for s in STARTERS}
        for round_number in range(self.args.warmup + self.args.runs):
            for starter in STARTERS:
                try:
                    to_game, to_exit = self.run_once(starter)
                except RuntimeError as error:
                    # Wine now and then fails a window or a process start; the
                    # run is taken again once, and the report says so.
                    self.failed_runs.append(f"round {round_number + 1}: {error}")
                    time.sleep(PAUSE)
                    to_game, to_exit = self.run_once(starter)
                if round_number >= self.args.warmup:
                    times[starter].append(to_game)
                    exits[starter].append(to_exit)
                time.sleep(PAUSE)
        return times, exits


def interval(statistic, *samples, rounds=4000):
    """95 % bootstrap interval of statistic(*samples)."""
    draw = random.Random(1601)  # the same interval for the same runs
    values = sorted(statistic(*(draw.choices(sample, k=len(sample)) for sample in samples))
                    for _ in range(rounds))
    return values[int(rounds * 0.025)], values[int(rounds * 0.975) - 1]


def ratio_of_medians(top, bottom):
    return statistics.median(top) / statistics.median(bottom)


def report(args, times, exits):
    print(f"Time from spawning `wine <starter>` until the game runs (median of {args.runs}"
          f" interleaved runs each, {args.warmup} warm-up rounds dropped)\n")
    print(f"  {'starter':22s} {'median':>9s} {'q1':>9s} {'q3':>9s} {'min':>9s} {'max':>9s}"
          f"   {'starter exited':>14s}")
    median = {s: statistics.median(times[s]) for s in STARTERS}
    for starter, values in times.items():
        q1, _, q3 = statistics.quantiles(values, n=4) if len(values) > 1 else values * 3
        print(f"  {starter:22s} {median[starter]:6.1f} ms {q1:6.1f} ms {q3:6.1f} ms "
              f"{min(values):6.1f} ms {max(values):6.1f} ms   "
              f"{statistics.median(exits[starter]):11.1f} ms")
    pairwise = [p / r for p, r in zip(times["Pelterin"], times["required_work_starter"])]
    ratio = statistics.median(pairwise)
    low, high = interval(statistics.median, pairwise)
    verdict = ("met" if ratio <= TARGET else "not met") + (
        ", within the noise" if low <= TARGET <= high else "")
    print(f"\n  Pelterin / required_work_starter, median of {len(pairwise)} pairwise ratios:"
          f" {ratio:5.3f}x  [{low:5.3f}, {high:5.3f}]")
    print(f"    target <= {TARGET:.2f}x: {verdict} (medians: Pelterin's own code"
          f" {median['Pelterin'] - median['required_work_starter']:+.1f} ms)\n")
    print(f"  {'ratio of medians':27s} {'':6s}   95 % interval")
    for top, bottom, note in (("Pelterin", "window_starter", ""), ("Pelterin", "bare_starter", ""),
                              ("required_work_starter", "window_starter",
                               "the required work beyond the window"),
                              ("window_starter", "bare_starter", "the cost of a window under Wine")):
        low, high = interval(ratio_of_medians, times[top], times[bottom])
        extra = f"   {note}: {median[top] - median[bottom]:+.1f} ms" if note else ""
        name = top.replace("_work", "").replace("_starter", "") + " / " + bottom
        print(f"  {name:27s} {median[top] / median[bottom]:5.3f}x  [{low:5.3f}, {high:5.3f}]{extra}")
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
