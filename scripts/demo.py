#!/usr/bin/python3
"""Lays out a demo install and runs the launcher on it under Wine:

    build/demo/Games/Orvellane/          Pelterin.exe, Slots.exe 1.0.3.0,
                                         UserDefault.xml recording 1.0.4.0
    build/demo/AppData/Local/Orvellane/KivoDownloadRes/win32_app_1.0.4.0/
                                         Slots.exe 1.0.4.0 (the download)

The two Slots.exe are stand-ins that note how they were started. Prints what
the launcher started and its trace (as a support team would capture it with a
debug viewer, here the tests' own), and fails unless it started the download.

    PELTERIN_WINE_ARCH=win32|win64 xvfb-run -a /usr/bin/python3 scripts/demo.py BUILD_DIR
"""
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
from wine_tree import (WINE_RUN, download_path, read_records,  # noqa: E402
                       set_local_app_data, wine, wine_path, write_settings)


def main():
    build, demo = Path(sys.argv[1]).resolve(), ROOT / "build" / "demo"
    exe = build / "frameworks" / "runtime-src" / "proj.win32" / "Pelterin.exe"
    install, records = demo / "Games" / "Orvellane", demo / "records"
    download = download_path(demo / "AppData" / "Local" / "Orvellane", "1.0.4.0")
    for folder in ("Games", "AppData", "records"):
        shutil.rmtree(demo / folder, ignore_errors=True)
    for folder in (install, download.parent, records):
        folder.mkdir(parents=True)
    shutil.copy(exe, install / "Pelterin.exe")
    shutil.copy(build / "tests" / "win" / "fake_game_1.0.3.0.exe", install / "Slots.exe")
    shutil.copy(build / "tests" / "win" / "fake_game_1.0.4.0.exe", download)
    write_settings(install, "1.0.4.0")

    # A prefix of the demo's own, whose local application data is the demo's.
    env = dict(os.environ, WINEPREFIX=str(demo / f"wineprefix-{os.environ['PELTERIN_WINE_ARCH']}"),
               PELTERIN_RECORD_DIR=wine_path(records))
    set_local_app_data(wine_path(demo / "AppData" / "Local"), env=env)
    # The launcher writes its trace only when someone reads it.
    viewer = subprocess.Popen([WINE_RUN, str(build / "tests" / "win" / "debug_viewer.exe"),
                               "read", "3"], env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True, errors="replace")
    if viewer.stdout.readline().strip() != "listening":
        sys.exit("demo: the debug viewer did not start")
    print(f"Running {wine_path(install / 'Pelterin.exe')} ...", flush=True)
    run = wine(wine_path(install / "Pelterin.exe"), cwd=install, env=env)
    trace = [line for line in viewer.communicate(timeout=60)[0].splitlines()
             if line.startswith("Pelterin: ")]
    deadline = time.monotonic() + 15
    while not read_records(records) and time.monotonic() < deadline:  # the game noting its start
        time.sleep(0.1)
    subprocess.run(["wineserver", "-w"], env=env)  # Wine's processes end before the display
    print(f"Pelterin exited with code {run.returncode}.\n"
          f"The launcher: {exe} ({exe.stat().st_size} bytes)")
    started = (read_records(records) or sys.exit("demo: Pelterin started nothing"))[0]
    print(f"It started: {started['path']}\n  with the command line {started['cmdline']}")
    print("Its trace (what a debug viewer shows):")
    for line in trace:
        print(f"  {line}")
    if started["path"] != wine_path(download):
        sys.exit(f"demo: Pelterin started {started['path']}, not the newer download")
    print("demo: Pelterin started the downloaded win32_app_1.0.4.0 game, the newer build.")


if __name__ == "__main__":
    main()
