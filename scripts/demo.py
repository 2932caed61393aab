#!/usr/bin/python3
"""Lays out a demo install and runs the launcher on it under Wine:

    build/demo/Games/Orvellane/          Pelterin.exe, Slots.exe 1.0.3.0,
                                         UserDefault.xml recording 1.0.4.0
    build/demo/AppData/Local/Orvellane/KivoDownloadRes/win32_app_1.0.4.0/
                                         Slots.exe 1.0.4.0 (the download)

The two Slots.exe are small stand-ins that note how they were started; the
demo prints what the launcher started, and fails unless it is the download.

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
from wine_tree import download_path, read_records, set_local_app_data, wine, wine_path, write_settings  # noqa: E402


def main():
    build = Path(sys.argv[1]).resolve()
    exe = build / "frameworks" / "runtime-src" / "proj.win32" / "Pelterin.exe"
    games = build / "tests" / "win"
    demo = ROOT / "build" / "demo"
    for folder in ("Games", "AppData", "records"):
        shutil.rmtree(demo / folder, ignore_errors=True)
    install = demo / "Games" / "Orvellane"
    download = download_path(demo / "AppData" / "Local" / "Orvellane", "1.0.4.0")
    for folder in (install, download.parent, demo / "records"):
        folder.mkdir(parents=True)
    shutil.copy(exe, install / "Pelterin.exe")
    shutil.copy(games / "fake_game_1.0.3.0.exe", install / "Slots.exe")
    shutil.copy(games / "fake_game_1.0.4.0.exe", download)
    write_settings(install, "1.0.4.0")

    # A prefix of the demo's own, whose local application data is the demo's.
    env = dict(os.environ, WINEPREFIX=str(demo / f"wineprefix-{os.environ['PELTERIN_WINE_ARCH']}"),
               PELTERIN_RECORD_DIR=wine_path(demo / "records"))
    set_local_app_data(wine_path(demo / "AppData" / "Local"), env=env)
    print(f"Running {wine_path(install / 'Pelterin.exe')} ...", flush=True)
    status = wine(wine_path(install / "Pelterin.exe"), cwd=install, env=env).returncode
    for _ in range(150):  # until the game has noted its start
        if read_records(demo / "records"):
            break
        time.sleep(0.1)
    subprocess.run(["wineserver", "-w"], env=env)  # Wine's processes end before the display
    print(f"Pelterin exited with code {status}.")
    print(f"The launcher: {exe} ({exe.stat().st_size} bytes)")
    records = read_records(demo / "records")
    if not records:
        sys.exit("demo: Pelterin started nothing")
    print(f"It started: {records[0]['path']}\n  with the command line {records[0]['cmdline']}")
    if records[0]["path"] != wine_path(download):
        sys.exit(f"demo: Pelterin started {records[0]['path']}, not the newer download")
    print("demo: Pelterin started the downloaded win32_app_1.0.4.0 game, the newer build.")


if __name__ == "__main__":
    main()
