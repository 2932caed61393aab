"""The real Pelterin.exe under Wine, in scratch folder trees.

Each test lays out an install folder (the launcher beside a fake Slots.exe),
a working directory with or without UserDefault.xml, and a local
application-data folder, then runs the launcher and reads what the fake
games record when they start: their path, command line, working directory
and an inherited environment variable.

Needs: PELTERIN_EXE, FAKE_GAMES (folder of fake_game_*.exe and
box_watcher.exe), PELTERIN_WINE_ARCH (win32 or win64, for the project's
wine wrapper), E2E_SCRATCH, and an X display (DISPLAY) for the launcher's
hidden window and the error box.
"""
import os
import random
import shutil
import struct
import subprocess
import time
import unittest
from pathlib import Path

import pefile

from wine_tree import (SETTINGS, TRACE_CHANNEL, WINE_RUN, download_path, local_app_data,
                       read_records, set_local_app_data, trace_lines, wine, wine_path,
                       write_settings)

PELTERIN = Path(os.environ["PELTERIN_EXE"])
FAKE_GAMES = Path(os.environ["FAKE_GAMES"])
SCRATCH = Path(os.environ["E2E_SCRATCH"])

START_TIMEOUT = 15  # seconds for a started game to write its record
QUIET_PERIOD = 2    # seconds in which no (further) game may start


def fake_game(version):
    return FAKE_GAMES / f"fake_game_{version}.exe"


def truncated_game(version):
    """A fake game cut short, as a crash or a full disk leaves a file being
    written: its headers survive; its resources, which lie further on in
    both architectures' builds, do not."""
    return fake_game(version).read_bytes()[:64 * 1024]


def misplaced_version_game(version, size):
    """A fake game whose resource directory gives its version data another
    size, as a crash mid-write, a bad disk or a hostile build leaves it."""
    data = bytearray(fake_game(version).read_bytes())
    entry = version_data(pefile.PE(data=bytes(data)))
    struct.pack_into("<I", data, entry.get_file_offset() + 4, size)
    return bytes(data)


def version_data(pe):
    """The data entry of `pe`'s version resource, as pefile reads it."""
    (versions,) = [entry for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries
                   if entry.id == pefile.RESOURCE_TYPE["RT_VERSION"]]
    return versions.directory.entries[0].directory.entries[0].data.struct


def unusual_version_game(shape):
    """A fake game of version 1.0.3.0 whose version resource is of an
    unusual `shape` that the system's version functions still read."""
    if shape in ("among names", "among languages", "neutral first"):
        return fake_game(shape.replace(" first", "").replace(" ", "_")).read_bytes()
    if shape.startswith("flat"):
        return flat_version_game(shape)
    data = bytearray(fake_game("1.0.3.0").read_bytes())
    pe = pefile.PE(data=bytes(data))
    entry = version_data(pe)
    block = pe.get_offset_from_rva(entry.OffsetToData)
    (rsrc,) = [section for section in pe.sections if section.Name.startswith(b".rsrc")]
    if shape.startswith("wLength"):
        struct.pack_into("<H", data, block, int(shape.split()[1]))
    elif shape == "another root key":
        struct.pack_into("<H", data, block + 6, ord("X"))
    elif shape == "64 KiB of data":  # running on through the sections after it
        struct.pack_into("<I", data, entry.get_file_offset() + 4, 0x10000)
    elif shape == "data past the section's file data":
        past = rsrc.VirtualAddress + rsrc.SizeOfRawData - entry.OffsetToData + 16
        struct.pack_into("<I", data, entry.get_file_offset() + 4, past)
    elif shape == "section data not at a multiple of 512":  # the loader rounds it down
        struct.pack_into("<I", data, rsrc.get_file_offset() + 20, rsrc.PointerToRawData + 0x80)
    elif shape == "in the headers":  # below every section, where the headers are mapped
        # Only the root and its fixed record fit after the section table.
        at = pe.OPTIONAL_HEADER.SizeOfHeaders - 92
        assert at >= pe.sections[-1].get_file_offset() + 40
        data[at:at + 92] = data[block:block + 92]
        struct.pack_into("<H", data, at, 92)
        struct.pack_into("<II", data, entry.get_file_offset(), at, 92)
    elif shape == "the 16-bit layout":
        key = b"VS_VERSION_INFO\0"
        old = data[block + 40:block + 92]  # the fixed record
        new = struct.pack("<HH", 4 + len(key) + len(old), len(old)) + key + old
        data[block:block + len(new)] = new
        struct.pack_into("<I", data, entry.get_file_offset() + 4, len(new))
    return bytes(data)


def flat_version_game(shape):
    """The fake game of 1.0.3.0 laid out flat, as the loader maps sections
    aligned below a page: the file is the image, each section's data at the
    offset equal to its address and running on to the next section."""
    pe = pefile.PE(str(fake_game("1.0.3.0")))
    size = pe.OPTIONAL_HEADER.SizeOfImage
    image = bytearray(pe.get_memory_mapped_image()[:size].ljust(size, b"\0"))
    starts = [section.VirtualAddress for section in pe.sections]
    ends = starts[1:] + [size]
    r = [section.Name for section in pe.sections].index(b".rsrc\0\0\0")
    entry = version_data(pe).get_file_offset() - pe.sections[r].PointerToRawData + starts[r]
    alignment = 0x10 if "512" in shape else 0x200
    if "512" in shape:  # .rsrc 16 bytes on, its directory and data entry with it
        image[starts[r]:ends[r]] = bytes(16) + image[starts[r]:ends[r] - 16]
        starts[r], ends[r - 1], entry = starts[r] + 16, ends[r - 1] + 16, entry + 16
        struct.pack_into("<I", image, entry, struct.unpack_from("<I", image, entry)[0] + 16)
        struct.pack_into("<I", image, pe.OPTIONAL_HEADER.DATA_DIRECTORY[2].get_file_offset(),
                         starts[r])
    elif "ending" in shape:  # the rest of the version data lies in the file after it
        ends[r] = struct.unpack_from("<I", image, entry)[0] + 16
    struct.pack_into("<II", image, pe.OPTIONAL_HEADER.get_file_offset() + 32, alignment, alignment)
    struct.pack_into("<II", image, pe.FILE_HEADER.get_file_offset() + 8, 0, 0)  # no symbols
    for section, start, end in zip(pe.sections, starts, ends):
        struct.pack_into("<4I", image, section.get_file_offset() + 8, end - start, start,
                         end - start, start)
    return bytes(image)


def game_of_many_sections(count=100):
    """The fake game of 1.0.3.0 with empty sections added after its own up
    to `count`, its data moved on to make room for their headers."""
    data = bytearray(fake_game("1.0.3.0").read_bytes())
    pe = pefile.PE(data=bytes(data))
    table = pe.sections[-1].get_file_offset() + 40
    old_size = pe.OPTIONAL_HEADER.SizeOfHeaders
    new_size = -(-(table + 40 * (count - len(pe.sections))) // 0x200) * 0x200
    shift = new_size - old_size
    last = pe.sections[-1]
    address = last.VirtualAddress + -(-last.Misc_VirtualSize // 0x1000) * 0x1000
    added = b"".join(struct.pack("<8sIIIIIIHHI", b".empty", 0x1000, address + 0x1000 * i,
                                 0, 0, 0, 0, 0, 0, 0x40000040)
                     for i in range(count - len(pe.sections)))
    for section in pe.sections:
        section.PointerToRawData += shift
    pe.FILE_HEADER.NumberOfSections = count
    pe.FILE_HEADER.PointerToSymbolTable += shift
    pe.OPTIONAL_HEADER.SizeOfHeaders = new_size
    pe.OPTIONAL_HEADER.SizeOfImage = address + 0x1000 * (count - len(pe.sections))
    headers = bytearray(pe.write()[:old_size])
    return bytes(headers[:table] + added + bytes(new_size - table - len(added)) + data[old_size:])


def sixteen_bit_program():
    """A 16-bit Windows (NE) program of nothing but its headers and a version
    resource in the 16-bit layout, of 1.0.3.0, which the system's version
    functions read."""
    ms, ls = 1 << 16 | 0, 3 << 16 | 0
    fixed = struct.pack("<13I", 0xFEEF04BD, 0x10000, ms, ls, ms, ls, 0x3F, 0, 1, 1, 0, 0, 0)
    key = b"VS_VERSION_INFO\0"
    resource = struct.pack("<HH", 4 + len(key) + len(fixed), len(fixed)) + key + fixed
    resource += bytes(-len(resource) % 16)
    # The resource table: its shift (16-byte units), then one type (0x8000 |
    # RT_VERSION) of one resource (0x8000 | 1) at 0xA0, and its end.
    data_at = 0xA0
    table = struct.pack("<HHHIHHHHHHH", 4, 0x8010, 1, 0, data_at >> 4, len(resource) >> 4,
                        0x30, 0x8001, 0, 0, 0)
    # The NE header: the resource table right after it; the segment table
    # empty; the entry, name and module tables one empty byte after it.
    ne = bytearray(64)
    ne[0:4] = b"NE\x05\x0a"
    end = len(ne) + len(table)
    struct.pack_into("<H", ne, 0x04, end)
    struct.pack_into("<HHHHHI", ne, 0x22, len(ne), len(ne), end, end, end, 0)
    ne[0x36] = 2  # Windows
    struct.pack_into("<H", ne, 0x3E, 0x030A)  # for Windows 3.10
    dos = bytearray(64)
    dos[0:2] = b"MZ"
    struct.pack_into("<I", dos, 0x3C, len(dos))
    headers = bytes(dos + ne) + table + b"\0"
    return headers + bytes(data_at - len(headers)) + resource


UNUSUAL_VERSION_SHAPES = ("among names", "among languages", "neutral first", "wLength 0",
                          "wLength 6", "wLength 60", "another root key", "64 KiB of data",
                          "data past the section's file data",
                          "section data not at a multiple of 512", "in the headers",
                          "the 16-bit layout", "flat", "flat, .rsrc not on 512",
                          "flat, .rsrc's data ending in the version data")


class Run:
    """What one launcher run did."""

    def __init__(self, exit_code, records, output=""):
        self.exit_code = exit_code
        self.records = records
        self.output = output

    @property
    def started(self):
        """Windows paths of the started games (normalised to backslashes)."""
        return [r["path"] for r in self.records]


class LauncherTestCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.saved_local_app_data = local_app_data()

    @classmethod
    def tearDownClass(cls):
        if cls.saved_local_app_data:
            set_local_app_data(cls.saved_local_app_data)

    def setUp(self):
        self.root = SCRATCH / type(self).__name__ / self._testMethodName
        shutil.rmtree(self.root, ignore_errors=True)
        self.root.mkdir(parents=True)
        self.records = self.root / "records"
        self.records.mkdir()
        self.install = self.root / "Games" / "Orvellane"
        self.local_app_data = self.root / "AppData" / "Local"
        self.local_app_data.mkdir(parents=True)
        set_local_app_data(wine_path(self.local_app_data))

    # --- laying out trees -------------------------------------------------

    def lay_install(self, version="1.0.3.0", folder=None):
        """The launcher and its Slots.exe (of `version`, or None for none)."""
        folder = folder or self.install
        folder.mkdir(parents=True, exist_ok=True)
        shutil.copy(PELTERIN, folder / "Pelterin.exe")
        if version:
            shutil.copy(fake_game(version), folder / "Slots.exe")
        return folder

    def lay_download(self, version, base=None, damaged=False, launcher=False, misplaced=False):
        """The download of `version`: its fake game, cut short if `damaged`,
        its version data misplaced if `misplaced`, or a copy of the launcher
        in its place."""
        game = download_path(base or self.local_app_data / "Orvellane", version)
        game.parent.mkdir(parents=True, exist_ok=True)
        if damaged:
            game.write_bytes(truncated_game(version))
        elif misplaced:
            game.write_bytes(misplaced_version_game(version, size=1 << 20))
        else:
            shutil.copy(PELTERIN if launcher else fake_game(version), game)
        return game

    def write_settings(self, folder, stored_version=None, raw=None):
        write_settings(folder, stored_version, raw)

    # --- running ----------------------------------------------------------

    def launcher_env(self, **changes):
        """The environment the launcher runs in, and hands on to the game;
        a change to None removes that variable."""
        env = dict(os.environ, PELTERIN_RECORD_DIR=wine_path(self.records),
                   PELTERIN_TAG="tag from the launcher's environment")
        env.update(changes)
        return {name: value for name, value in env.items() if value is not None}

    def clear_records(self):
        shutil.rmtree(self.records)
        self.records.mkdir()

    def run_launcher(self, cwd=None, exe=None, **env_changes):
        """Runs the launcher (by default the one in self.install, from that
        folder) and waits for the game it starts."""
        done = wine(exe or wine_path(self.install / "Pelterin.exe"), cwd=cwd or self.install,
                    env=self.launcher_env(**env_changes), capture_output=True, text=True,
                    errors="replace")
        return Run(done.returncode, self.wait_for_records(True), done.stderr)

    def wait_for_records(self, expect_start):
        deadline = time.monotonic() + (START_TIMEOUT if expect_start else QUIET_PERIOD)
        while time.monotonic() < deadline:
            if list(self.records.glob("*.txt")):
                time.sleep(QUIET_PERIOD)  # a second start would show up now
                break
            time.sleep(0.1)
        return read_records(self.records)

    def typical_trace(self, download):
        """The trace of a run from the install folder that starts `download`."""
        return [
            f"Pelterin: launcher folder {wine_path(self.install)}\\",
            f"Pelterin: installed game {wine_path(self.install / 'Slots.exe')}, version 1.0.3.0",
            f"Pelterin: working directory {wine_path(self.install)}\\",
            'Pelterin: stored version "1.0.4.0"',
            'Pelterin: "1.0.4.0" is newer than 1.0.3.0',
            f"Pelterin: data folder {wine_path(self.local_app_data / 'Orvellane')}\\",
            f"Pelterin: download {wine_path(download)} is there",
            # Wine gives every process the elevated half of a split token,
            # whose linked token runs at the same level: a plain start.
            "Pelterin: run as administrator, at the desktop's integrity level",
            f"Pelterin: start {wine_path(download)}: started",
        ]

    def assertStartedOnly(self, run, unix_exe):
        self.assertEqual(run.exit_code, 0, run.output)
        self.assertEqual(run.started, [wine_path(unix_exe)], run.output)
        record = run.records[0]
        # The command line is the quoted path, as Windows writes paths.
        self.assertEqual(record["cmdline"], '"' + wine_path(unix_exe) + '"')
        self.assertNotIn("/", record["cmdline"])
        self.assertEqual(record["tag"], "tag from the launcher's environment")
        return record


class ChoosingTheGameTest(LauncherTestCase):
    def test_typical_run_starts_the_newer_download(self):
        self.lay_install("1.0.3.0")
        self.write_settings(self.install, "1.0.4.0")
        download = self.lay_download("1.0.4.0")
        run = self.run_launcher(WINEDEBUG=TRACE_CHANNEL)
        record = self.assertStartedOnly(run, download)
        self.assertEqual(record["cwd"], wine_path(self.install))
        # With no debugger and no viewer, nothing is written: Wine shows
        # every write on this channel, read by a viewer or not.
        self.assertEqual(trace_lines(run.output), [])

    def test_version_order_decides(self):
        cases = [
            # installed, stored, downloads present, expected start
            ("1.0.3.0", "1.0.3.0", ["1.0.3.0"], "installed"),
            ("1.0.4.0", "1.0.3.0", ["1.0.3.0"], "installed"),
            ("1.0.9.0", "1.0.10.0", ["1.0.10.0"], "1.0.10.0"),
            ("1.0.3.0", "1.0.4.0", [], "installed"),  # download missing
            ("1.0.3.0", "1.0.4.0", ["1.0.4.0 damaged"], "installed"),  # cannot start
            ("1.0.3.0", "1.0.4.0", ["1.0.4.0 launcher"], "installed"),  # the launcher itself
            # Its names cannot be read, so it is not the launcher: it starts.
            ("1.0.3.0", "1.0.4.0", ["1.0.4.0 misplaced"], "1.0.4.0"),
        ]
        for installed, stored, downloads, expected in cases:
            with self.subTest(installed=installed, stored=stored, downloads=downloads):
                self.clear_records()
                shutil.rmtree(self.local_app_data / "Orvellane", ignore_errors=True)
                self.lay_install(installed)
                self.write_settings(self.install, stored)
                for download in downloads:
                    self.lay_download(download.split()[0], damaged="damaged" in download,
                                      launcher="launcher" in download,
                                      misplaced="misplaced" in download)
                exe = (self.install / "Slots.exe" if expected == "installed"
                       else download_path(self.local_app_data / "Orvellane", expected))
                self.assertStartedOnly(self.run_launcher(), exe)

    def test_installed_games_whose_version_windows_reads_start(self):
        for shape in UNUSUAL_VERSION_SHAPES:
            with self.subTest(shape):
                self.clear_records()
                self.lay_install(None)
                (self.install / "Slots.exe").write_bytes(unusual_version_game(shape))
                self.write_settings(self.install, "1.0.2.0")  # older
                self.assertStartedOnly(self.run_launcher(), self.install / "Slots.exe")

    def test_the_launcher_reads_versions_as_the_system_does(self):
        folder = SCRATCH / "unusual versions"
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        for shape in UNUSUAL_VERSION_SHAPES:
            (folder / f"{shape}.exe").write_bytes(unusual_version_game(shape))
        (folder / "100 sections.exe").write_bytes(game_of_many_sections())
        # Read by the system, but no PE image: left out of the comparison.
        (folder / "16-bit.exe").write_bytes(sixteen_bit_program())
        agreement = wine(FAKE_GAMES / "version_agreement.exe", wine_path(folder),
                         capture_output=True, text=True)
        self.assertEqual(agreement.returncode, 0, agreement.stdout)
        files = len(UNUSUAL_VERSION_SHAPES) + 1
        self.assertIn(f"{files + 1} files; {files} PE images compared, {files} with a version, "
                      "0 disagree; 1 not PE images left out, 1 of them with a version",
                      agreement.stdout)

    def test_settings_are_read_from_the_working_directory_only(self):
        self.lay_install("1.0.3.0")
        self.write_settings(self.install, "1.0.4.0")
        self.lay_download("1.0.4.0")
        elsewhere = self.root / "elsewhere"
        elsewhere.mkdir()
        record = self.assertStartedOnly(self.run_launcher(cwd=elsewhere),
                                        self.install / "Slots.exe")
        self.assertEqual(record["cwd"], wine_path(elsewhere))

    def test_unusable_settings_start_the_installed_game(self):
        cases = {
            "malformed": b"<userDefaultRoot><win32_app_new_version>1.0.4.0</userDefault",
            "binary": bytes(range(256)) * 8,
            "empty": b"",
            "escaping the download tree": SETTINGS.format("1.0.4.0/../../../../evil").encode(),
        }
        self.lay_install("1.0.3.0")
        self.lay_download("1.0.4.0")
        # Where the escaping record points: outside KivoDownloadRes.
        self.lay_download("1.0.4.0", base=self.local_app_data / "Orvellane" / "KivoDownloadRes"
                          / "x" / "y")
        for name, data in cases.items():
            with self.subTest(name):
                self.clear_records()
                self.write_settings(self.install, raw=data)
                self.assertStartedOnly(self.run_launcher(), self.install / "Slots.exe")

    def test_without_local_app_data_the_download_is_looked_for_beside_the_launcher(self):
        set_local_app_data(wine_path(self.root / "no such folder"))
        self.lay_install("1.0.3.0")
        self.write_settings(self.install, "1.0.4.0")
        download = self.lay_download("1.0.4.0", base=self.install)
        self.assertStartedOnly(self.run_launcher(), download)

    def test_data_folder_is_created_when_a_newer_version_is_stored(self):
        self.lay_install("1.0.3.0")
        self.write_settings(self.install, "1.0.3.0")
        self.run_launcher()
        self.assertFalse((self.local_app_data / "Orvellane").exists(),
                         "not needed, so not created")
        self.write_settings(self.install, "1.0.4.0")
        self.clear_records()
        self.assertStartedOnly(self.run_launcher(), self.install / "Slots.exe")
        self.assertTrue((self.local_app_data / "Orvellane").is_dir())


class PathsTest(LauncherTestCase):
    def test_non_ascii_install_and_data_folders(self):
        self.install = self.root / "游戏" / "Orvellane Café"
        self.local_app_data = self.root / "用户" / "AppData" / "Local"
        self.local_app_data.mkdir(parents=True)
        set_local_app_data(wine_path(self.local_app_data))
        self.lay_install("1.0.3.0")
        self.write_settings(self.install, "1.0.4.0")

        self.assertStartedOnly(self.run_launcher(), self.install / "Slots.exe")
        self.clear_records()
        download = self.lay_download("1.0.4.0")
        self.assertStartedOnly(self.run_launcher(), download)

    def test_install_folder_with_spaces(self):
        self.install = self.root / "Program Files (x86)" / "Orvellane Game"
        self.lay_install("1.0.3.0")
        self.assertStartedOnly(self.run_launcher(), self.install / "Slots.exe")

    def test_launcher_at_the_root_of_a_drive(self):
        drive_root = self.root / "drive"
        drive_root.mkdir()
        arch = os.environ.get("PELTERIN_WINE_ARCH", "win32")
        dosdevices = Path(os.environ.get("WINEPREFIX", Path(WINE_RUN).parent.parent
                                         / "build" / f"wineprefix-{arch}")) / "dosdevices"
        link = dosdevices / "p:"
        if link.is_symlink() or link.exists():
            link.unlink()
        link.symlink_to(drive_root)
        try:
            self.lay_install("1.0.3.0", folder=drive_root)
            run = self.run_launcher(cwd=drive_root, exe=r"P:\Pelterin.exe")
            self.assertEqual(run.exit_code, 0)
            self.assertEqual([r["cmdline"] for r in run.records], ['"P:\\Slots.exe"'])
        finally:
            link.unlink()

    def test_launcher_path_longer_than_260_characters(self):
        # Wine cannot start an image whose own path is that long, so the long
        # install folder is proven through a download kept in a short folder:
        # the installed version must have been read through the long path.
        self.install = self.root.joinpath(*[f"a_rather_long_folder_name_{i:02d}" for i in range(12)])
        self.assertGreater(len(wine_path(self.install / "Slots.exe")), 260)
        self.lay_install("1.0.3.0")
        cwd = self.root / "cwd"
        cwd.mkdir()
        self.write_settings(cwd, "1.0.4.0")
        download = self.lay_download("1.0.4.0")
        self.assertStartedOnly(self.run_launcher(cwd=cwd), download)


class DllPlantingTest(LauncherTestCase):
    def test_dlls_dropped_beside_the_launcher_are_not_loaded(self):
        # Wine prefers its own shell32 and version wherever they lie, so only
        # a name it has no DLL of, the one MinGW's runtime asks for at start
        # (dw2 in the 32-bit build, seh in the 64-bit one),
        # can show a planted DLL being picked up; the import table check
        # covers the rest.
        self.lay_install("1.0.3.0")
        self.write_settings(self.install, "1.0.4.0")
        download = self.lay_download("1.0.4.0")
        for name in ("libgcc_s_dw2-1.dll", "libgcc_s_seh-1.dll", "shell32.dll", "version.dll",
                     "shfolder.dll"):
            shutil.copy(FAKE_GAMES / "planted_dll.dll", self.install / name)
        self.assertStartedOnly(self.run_launcher(), download)
        self.assertEqual(sorted(p.name for p in self.records.glob("planted-*")), [])


class FaultInjectionTest(LauncherTestCase):
    """Whatever is on disk, the launcher ends promptly with exit code 0,
    starts the right game, shows no box and leaves the settings untouched."""

    def run_checked(self, expected_exe, cwd=None):
        settings = (cwd or self.install) / "UserDefault.xml"
        before = settings.read_bytes() if settings.is_file() else None
        run = self.run_launcher(cwd=cwd)
        self.assertStartedOnly(run, expected_exe)
        if before is not None:
            self.assertEqual(settings.read_bytes(), before, "the settings file changed")
        return run

    def test_unreadable_or_odd_settings_files(self):
        def of_size(size):
            """Other settings, then the record, in exactly `size` bytes."""
            head = "<userDefaultRoot>\n"
            tail = "<win32_app_new_version>1.0.4.0</win32_app_new_version>\n</userDefaultRoot>\n"
            entry = f"<key>{'v' * 88}</key>\n"
            count, rest = divmod(size - len(head) - len(tail), len(entry))
            return (head + entry * count + "\n" * rest + tail).encode()

        def under_root(body):
            return f"<r>{body}<win32_app_new_version>1.0.4.0</win32_app_new_version></r>".encode()

        markup = 256 << 10  # kMaxSettingsMarkup: tags and attributes read, the root and key two
        unended = "&#1" * 6689  # one character reference more than is searched for its ';'

        noise = random.Random(4).randbytes(64 * 1024)
        installed = self.install / "Slots.exe"
        download = download_path(self.local_app_data / "Orvellane", "1.0.4.0")
        cases = [
            ("16 MiB of other settings first", of_size(16 << 20), download),
            ("a byte more: not read", of_size((16 << 20) + 1), installed),
            ("markup up to its limit", under_root("<k/>" * (markup - 2)), download),
            ("more markup: not read", under_root("<k/>" * (markup - 1)), installed),
            ("65 attributes on one element: not read",
             under_root("<e " + " ".join(f'a{i}=""' for i in range(65)) + "/>"), installed),
            ("character references searched too far: not read",
             under_root(f"<k>{unended}</k>"), installed),
            ("nested deeper than the parser reads", under_root("<a>" * 98 + "</a>" * 98),
             installed),
            ("random bytes", noise, installed),
            ("65 attributes on an end tag: not read",
             under_root("<e></e " + " ".join(f'a{i}=""' for i in range(65)) + ">"), installed),
            ("100,000-character version", SETTINGS.format("1.0.4." + "0" * 99_993).encode(),
             installed),
            ("100,000 digits", SETTINGS.format("9" * 100_000).encode(), installed),
        ]
        self.lay_install("1.0.3.0")
        self.lay_download("1.0.4.0")
        for name, data, expected in cases:
            with self.subTest(name):
                self.clear_records()
                self.write_settings(self.install, raw=data)
                self.run_checked(expected)

    def test_settings_held_open_by_another_program(self):
        self.lay_install("1.0.3.0")
        self.write_settings(self.install, "1.0.4.0")
        self.lay_download("1.0.4.0")
        holder = subprocess.Popen(
            [WINE_RUN, str(FAKE_GAMES / "hold_file.exe"),
             wine_path(self.install / "UserDefault.xml"), "30"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        try:
            self.assertEqual(holder.stdout.readline().strip(), "held")
            self.run_checked(self.install / "Slots.exe")
        finally:
            holder.kill()
            holder.communicate()

    def test_folder_named_like_the_settings_file(self):
        self.lay_install("1.0.3.0")
        self.lay_download("1.0.4.0")
        (self.install / "UserDefault.xml").mkdir()
        self.run_checked(self.install / "Slots.exe")

    def test_data_folder_that_cannot_be_created(self):
        self.lay_install("1.0.3.0")
        self.write_settings(self.install, "1.0.4.0")
        (self.local_app_data / "Orvellane").write_text("a file where the folder belongs")
        self.run_checked(self.install / "Slots.exe")
        self.assertTrue((self.local_app_data / "Orvellane").is_file())

    def test_without_a_display_the_game_still_starts(self):
        # Wine cannot create the launcher's window without an X display; the
        # launch needs none.
        self.lay_install("1.0.3.0")
        self.assertStartedOnly(self.run_launcher(DISPLAY=None), self.install / "Slots.exe")

    def test_local_app_data_on_a_missing_drive(self):
        set_local_app_data(r"Q:\Users\u\AppData\Local")
        self.lay_install("1.0.3.0")
        self.write_settings(self.install, "1.0.4.0")
        download = self.lay_download("1.0.4.0", base=self.install)
        self.run_checked(download)

    def test_a_debug_viewer_never_holds_the_game_back(self):
        # The system waits up to ten seconds a line for a viewer to take it,
        # and for as long as another program's write holds its lock; neither
        # may delay the game, nor the launcher's end by more than its bound.
        # A viewer that reads gets every line.
        self.lay_install("1.0.3.0")
        self.write_settings(self.install, "1.0.4.0")
        download = self.lay_download("1.0.4.0")
        cases = [
            # helpers (mode, seconds), whether the viewer gets the trace
            ([("hang", 30)], False),
            ([("read", 3)], True),
            ([("lock", 30)], False),             # a stuck writer, nobody listening
            ([("lock", 30), ("read", 3)], False),  # a stuck writer, a viewer waiting
        ]
        for helpers, traced in cases:
            with self.subTest(helpers):
                self.clear_records()
                viewers = [subprocess.Popen([WINE_RUN, str(FAKE_GAMES / "debug_viewer.exe"), mode,
                                             str(seconds)],
                                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                            text=True, errors="replace")
                           for mode, seconds in helpers]
                try:
                    for (mode, _), viewer in zip(helpers, viewers):
                        self.assertEqual(viewer.stdout.readline().strip(),
                                         "locked" if mode == "lock" else "listening")
                    begun = time.monotonic()
                    launcher = subprocess.Popen(
                        [WINE_RUN, wine_path(self.install / "Pelterin.exe")], cwd=self.install,
                        env=self.launcher_env(), stdin=subprocess.DEVNULL,
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                    while not list(self.records.glob("*.txt")) and \
                            time.monotonic() - begun < START_TIMEOUT:
                        time.sleep(0.05)
                    started_after = time.monotonic() - begun
                    self.assertEqual(launcher.wait(timeout=30), 0)
                    ended_after = time.monotonic() - begun
                    self.assertEqual(read_records(self.records)[0]["path"], wine_path(download))
                    # Process starts under Wine take a second or so; a trace
                    # written first would hold the game back ten seconds a
                    # line. The writing is waited for three seconds at most.
                    self.assertLess(started_after, 5)
                    self.assertLess(ended_after, 10)
                    if helpers[-1][0] == "read":
                        lines = viewers[-1].communicate(timeout=30)[0].splitlines()
                        self.assertEqual([line for line in lines if line.startswith("Pelterin:")],
                                         self.typical_trace(download) if traced else [])
                finally:
                    for viewer in viewers:
                        if viewer.poll() is None:
                            viewer.kill()
                        viewer.communicate()

    def start_launchers_together(self, count):
        launchers = [subprocess.Popen([WINE_RUN, wine_path(self.install / "Pelterin.exe")],
                                      cwd=self.install, env=self.launcher_env(), stdin=subprocess.DEVNULL,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                     for _ in range(count)]
        # A box would keep its launcher waiting: ending in time means none.
        return [launcher.wait(timeout=60) for launcher in launchers]

    def test_two_launchers_at_once(self):
        self.lay_install("1.0.3.0")
        self.write_settings(self.install, "1.0.4.0")
        settings = (self.install / "UserDefault.xml").read_bytes()

        # The data folder is missing: both race to create it; the loser finds
        # it there already, which must not count as a failure. No download
        # can be in a folder that does not exist, so both start the game.
        self.assertEqual(self.start_launchers_together(2), [0, 0])
        self.assertTrue((self.local_app_data / "Orvellane").is_dir())
        records = self.wait_for_records(True)
        self.assertEqual([r["path"] for r in records],
                         [wine_path(self.install / "Slots.exe")] * 2)

        # With the download there, both start it.
        self.clear_records()
        download = self.lay_download("1.0.4.0")
        self.assertEqual(self.start_launchers_together(2), [0, 0])
        records = self.wait_for_records(True)
        self.assertEqual([r["path"] for r in records], [wine_path(download)] * 2)
        self.assertEqual((self.install / "UserDefault.xml").read_bytes(), settings)


class ErrorBoxTest(LauncherTestCase):
    """The one thing the launcher ever shows: a box for an installed game that
    cannot be used or started."""

    def run_with_box_watcher(self, screenshot=None):
        """Runs the launcher while box_watcher reports the box and presses OK.
        With `screenshot` (a PNG path), the screen around the box is saved
        first (needs ImageMagick's import)."""
        env = self.launcher_env()
        watcher_args = ["30", "3"] if screenshot else ["30"]
        watcher = subprocess.Popen([WINE_RUN, str(FAKE_GAMES / "box_watcher.exe"), *watcher_args],
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                                   encoding="utf-8", errors="replace", env=env)
        try:
            launcher = subprocess.Popen([WINE_RUN, wine_path(self.install / "Pelterin.exe")],
                                        cwd=self.install, env=env, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            report = []
            for line in watcher.stdout:
                line = line.strip()
                if line.startswith("rect="):
                    self.save_screenshot(screenshot, [int(v) for v in line[5:].split(",")])
                else:
                    report.append(line)
            watcher.wait(timeout=60)
            exit_code = launcher.wait(timeout=60)
        finally:
            for process in (watcher, launcher):
                if process.poll() is None:
                    process.kill()
        return exit_code, report, self.wait_for_records(False)

    @staticmethod
    def save_screenshot(path, rect):
        left, top, right, bottom = rect
        margin = 24
        geometry = f"{right - left + 2 * margin}x{bottom - top + 2 * margin}" \
                   f"+{max(left - margin, 0)}+{max(top - margin, 0)}"
        subprocess.run(["import", "-window", "root", "-crop", geometry, "+repage", str(path)],
                       check=True, timeout=30)

    @unittest.skipUnless(os.environ.get("PELTERIN_SCREENSHOT"), "no screenshot asked for")
    def test_screenshot_of_the_box(self):
        self.lay_install("unversioned")
        exit_code, report, _ = self.run_with_box_watcher(Path(os.environ["PELTERIN_SCREENSHOT"]))
        self.assertEqual(exit_code, 0)
        self.assertIn("text=Get Slots Version Error!", report)

    def test_box_for_an_installed_game_that_cannot_be_used(self):
        def unversioned(folder):
            shutil.copy(fake_game("unversioned"), folder / "Slots.exe")

        def missing(folder):
            pass

        def folder_named_slots(folder):
            (folder / "Slots.exe").mkdir()

        def text_file(folder):
            (folder / "Slots.exe").write_text("not a program\r\n")

        def empty_file(folder):
            (folder / "Slots.exe").write_bytes(b"")

        def truncated(folder):
            (folder / "Slots.exe").write_bytes(truncated_game("1.0.3.0"))

        def version_data_of_1_mib(folder):
            (folder / "Slots.exe").write_bytes(misplaced_version_game("1.0.3.0", size=1 << 20))

        def version_under_another_name_only(folder):
            shutil.copy(fake_game("none"), folder / "Slots.exe")

        def sixteen_bit(folder):
            (folder / "Slots.exe").write_bytes(sixteen_bit_program())

        for make_game in (unversioned, missing, folder_named_slots, text_file, empty_file,
                          truncated, version_data_of_1_mib, version_under_another_name_only,
                          sixteen_bit):
            with self.subTest(make_game.__name__):
                shutil.rmtree(self.install, ignore_errors=True)
                self.lay_install(None)
                make_game(self.install)
                # A newer download is ready, but the box wins.
                self.write_settings(self.install, "1.0.4.0")
                self.lay_download("1.0.4.0", base=self.install)

                exit_code, report, records = self.run_with_box_watcher()
                self.assertEqual(exit_code, 0)
                self.assertEqual(report, ["boxes=1", "text=Get Slots Version Error!",
                                          "main_window=hidden"])
                self.assertEqual(records, [], "nothing may start")
                self.assertFalse((self.local_app_data / "Orvellane").exists(),
                                 "the data folder is not touched")


    def test_box_for_a_copy_of_the_launcher_in_the_games_place(self):
        # It carries a version, 1.0.0.0; started, it would start itself again.
        self.lay_install(None)
        shutil.copy(PELTERIN, self.install / "Slots.exe")
        exit_code, report, records = self.run_with_box_watcher()
        self.assertEqual(exit_code, 0)
        self.assertEqual(report, ["boxes=1", "text=Start Slots Error!\\n\\n"
                                  f"{wine_path(self.install / 'Slots.exe')} is this launcher "
                                  "itself, not the game.", "main_window=hidden"])
        self.assertEqual(records, [], "nothing may start")

    def test_box_for_an_installed_game_that_cannot_be_started(self):
        # A DLL with a version resource: it passes the version check, but
        # Windows cannot start it (error 193, as for a damaged program).
        self.lay_install(None)
        shutil.copy(FAKE_GAMES / "planted_dll.dll", self.install / "Slots.exe")
        self.write_settings(self.install, "1.0.4.0")
        # Wine's own wording of error 193, with the game's path for its %1.
        box_text = ("text=Start Slots Error!\\n\\nBad EXE format for "
                    f"{wine_path(self.install / 'Slots.exe')}. (error 193)")
        for damaged_download in (False, True):
            with self.subTest(damaged_download=damaged_download):
                if damaged_download:
                    self.lay_download("1.0.4.0", damaged=True)
                exit_code, report, records = self.run_with_box_watcher()
                self.assertEqual(exit_code, 0)
                self.assertEqual(report, ["boxes=1", box_text, "main_window=hidden"])
                self.assertEqual(records, [], "nothing may start")
        # A game of 100 sections: Windows since Vista maps it, and the
        # launcher reads its version, but Wine will not start it.
        (self.install / "Slots.exe").write_bytes(game_of_many_sections())
        exit_code, report, records = self.run_with_box_watcher()
        self.assertEqual(report, ["boxes=1", box_text, "main_window=hidden"])
        self.assertEqual(records, [], "nothing may start")


if __name__ == "__main__":
    unittest.main(verbosity=2)
