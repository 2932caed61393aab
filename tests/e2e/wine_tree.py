"""Folder trees for the launcher under Wine, for the end-to-end tests, the launch
bench and the demo: the settings file, the download tree, the local application
data folder in the prefix's registry, and what the fake games record when they
start. Programs run through scripts/wine-run (PELTERIN_WINE_ARCH, WINEPREFIX)."""
import re
import subprocess
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
WINE_RUN = str(ROOT / "scripts" / "wine-run")
# Wine shows the debugger output on this channel.
TRACE_CHANNEL = "-all,warn+seh"
SHELL_FOLDERS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders"
SETTINGS = """<?xml version="1.0" encoding="UTF-8"?>
<userDefaultRoot>
    <music_volume>0.8</music_volume>
    <win32_app_new_version>{}</win32_app_new_version>
</userDefaultRoot>
"""


def wine_path(path):
    """The Windows name of a Unix path, through Wine's Z: drive."""
    return "Z:" + str(path).replace("/", "\\")


def wine(*args, cwd=None, env=None, timeout=60, **kwargs):
    """Runs a Windows program (or Wine's own, such as reg) to its end."""
    return subprocess.run([WINE_RUN, *map(str, args)], cwd=cwd, env=env, timeout=timeout,
                          stdin=subprocess.DEVNULL, **kwargs)


def set_local_app_data(value, env=None):
    """Points the prefix's local application-data folder at `value`, a Windows path."""
    wine("reg", "add", SHELL_FOLDERS, "/v", "Local AppData", "/t", "REG_EXPAND_SZ", "/d", value,
         "/f", env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def local_app_data(env=None):
    """The prefix's local application-data folder now, or None."""
    query = wine("reg", "query", SHELL_FOLDERS, "/v", "Local AppData", env=env,
                 capture_output=True, text=True)
    for line in query.stdout.splitlines():
        if "Local AppData" in line:
            return line.split("REG_EXPAND_SZ", 1)[-1].strip()
    return None


def write_settings(folder, stored_version=None, raw=None):
    """UserDefault.xml in `folder`: the game's, recording `stored_version`, or `raw`."""
    data = raw if raw is not None else SETTINGS.format(stored_version).encode()
    (Path(folder) / "UserDefault.xml").write_bytes(data)


def download_path(base, version):
    """Where the download of `version` lies below the data folder `base`."""
    return Path(base) / "KivoDownloadRes" / f"win32_app_{version}" / "Slots.exe"


def read_records(folder):
    """What each fake game that started wrote into `folder`, by file name: its
    path, cmdline, cwd, the tag it inherited and when it began (filetime)."""
    return [dict(line.split("=", 1) for line in path.read_text(encoding="utf-8").splitlines()
                 if "=" in line)
            for path in sorted(Path(folder).glob("*.txt"))]


def trace_lines(wine_output):
    """The launcher's trace lines in what Wine printed on TRACE_CHANNEL. Wine
    cuts a long line short with "..."."""
    return [line.encode("latin-1").decode("unicode_escape").rstrip("\n")
            for line in re.findall(r'OutputDebugStringA "(Pelterin: .*)"$', wine_output,
                                   re.MULTILINE)]
