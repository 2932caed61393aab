#!/usr/bin/env python3
"""Checks the built launcher executable itself: its PE header, what it imports
and the resources it carries.

    /usr/bin/python3 tests/win/check_binary.py path/to/Pelterin.exe [i386|amd64]

The machine type the launcher must be built for is i386 (32-bit, the default) or
amd64 (x86-64); every other rule is the same for both. Further arguments go to
unittest (e.g. -v, -k dialog).

Some of what is checked here cannot be seen from a run under Wine at all:
Wine prefers its own shell32.dll to a copy beside the program, so a launcher
that imported it statically (and would therefore pick up a planted copy from
its own folder on Windows) behaves no differently there. The import table is
the proof.
"""

import hashlib
import struct
import zlib
import sys
import unittest
import xml.etree.ElementTree as ElementTree

try:
    import pefile
except ImportError:
    sys.exit("check_binary.py needs pefile (Debian: python3-pefile); "
             "run it with /usr/bin/python3")

# Resource types.
RT_ICON = 3
RT_MENU = 4
RT_DIALOG = 5
RT_STRING = 6
RT_ACCELERATOR = 9
RT_GROUP_ICON = 14
RT_VERSION = 16
RT_MANIFEST = 24

CHINESE_PRC = 0x0804    # LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED: 2052
ENGLISH_US = 0x0409     # LANG_ENGLISH, SUBLANG_ENGLISH_US: 1033

# Window, dialog and control styles.
WS_POPUP = 0x80000000
WS_CHILD = 0x40000000
WS_VISIBLE = 0x10000000
WS_CAPTION = 0x00C00000
WS_SYSMENU = 0x00080000
WS_GROUP = 0x00020000
WS_TABSTOP = 0x00010000
DS_MODALFRAME = 0x80
DS_SETFONT = 0x40
DS_FIXEDSYS = 0x08
SS_LEFT = 0x00
SS_ICON = 0x03
SS_NOPREFIX = 0x80
BS_DEFPUSHBUTTON = 0x01

IDOK = 1
IDC_STATIC = 0xFFFFFFFF  # -1 as the template's DWORD control id

# Manifest namespaces.
ASSEMBLY_V1 = "urn:schemas-microsoft-com:asm.v1"
COMPATIBILITY = "urn:schemas-microsoft-com:compatibility.v1"
SETTINGS_2005 = "http://schemas.microsoft.com/SMI/2005/WindowsSettings"
SETTINGS_2016 = "http://schemas.microsoft.com/SMI/2016/WindowsSettings"

# Anything else in the import table could be picked up from the launcher's
# own, user-writable folder instead of the system directory.
ALLOWED_IMPORTS = ("kernel32.dll", "user32.dll", "msvcrt.dll")
ALLOWED_IMPORT_PREFIXES = ("api-ms-win-crt-",)

# shell32.dll, ole32.dll and advapi32.dll are loaded at run time from the
# system directory only; a static (or delay-load) import would be resolved through the normal
# search order, which starts at the application's folder. version.dll is not
# needed at all: the launcher reads version resources itself. Nor are the
# MinGW runtime DLLs: the runtime is linked statically.
FORBIDDEN_IMPORT_PREFIXES = ("version.dll", "shell32.dll", "ole32.dll", "advapi32.dll", "libstdc++",
                             "libgcc", "libwinpthread")

# Functions that must not be in the import tables, each with the reason.
# Thread control beside CreateProcessW, in a small program that starts
# executables from the user's data folder, is what antivirus heuristics flag;
# the launcher's own thread (the trace's writer) is only waited for, never
# controlled, so these could only come from runtime code it never runs.
# ResumeThread is the one it calls itself: the game is created suspended
# and resumed once it may take the foreground.
THREAD_CONTROL = "thread-library code: the launcher never controls a thread"
NOT_IMPORTED = {
    # Windows 7 without its loader update lacks this export; importing it
    # statically would stop the launcher from starting there at all.
    "SetDefaultDllDirectories": "a newer loader function, looked up at run time",
    "SuspendThread": THREAD_CONTROL,
    "GetThreadContext": THREAD_CONTROL,
    "SetThreadContext": THREAD_CONTROL,
    "DuplicateHandle": THREAD_CONTROL,
}

# Upper limits of section sizes in bytes (PE section names stop at 8
# characters). The launcher is built without exceptions: its DWARF unwind
# tables are the C start-up code's own, about 2 KB, and more means that the
# unwinder or code built with exceptions has been linked in.
SECTION_LIMITS = {".eh_frame": 4096}

# Flags of the optional header that the launcher must carry, each with the
# reason.
REQUIRED_DLL_CHARACTERISTICS = {
    "IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE": "loaded at a random address (ASLR)",
    "IMAGE_DLLCHARACTERISTICS_NX_COMPAT": "data is never executed (DEP)",
    "IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE":
        "no compatibility layer for it on a Remote Desktop session host",
}

EXE_PATH = None
MACHINE = "i386"
pe = None
resources = {}  # (type, name, language) -> bytes


def setUpModule():
    global pe
    pe = pefile.PE(EXE_PATH)
    resources.update(read_resources(pe))
    # Every function the launcher takes from Windows, for the reviewer.
    for name, functions in imported_dlls():
        print("imports from %s (%d): %s" % (name, len(functions), " ".join(functions)))


def read_resources(image):
    """Flattens the three-level resource tree. Only numeric types and names
    are expected in this executable; named ones are keyed by their text."""
    found = {}
    if not hasattr(image, "DIRECTORY_ENTRY_RESOURCE"):
        return found
    for kind in image.DIRECTORY_ENTRY_RESOURCE.entries:
        kind_key = kind.id if kind.name is None else str(kind.name)
        for name in kind.directory.entries:
            name_key = name.id if name.name is None else str(name.name)
            for language in name.directory.entries:
                entry = language.data.struct
                found[(kind_key, name_key, language.id)] = image.get_data(
                    entry.OffsetToData, entry.Size)
    return found


def imported_dlls():
    """Names of the DLLs in the import and the delay-load import tables, with
    the names of the functions taken from each."""
    tables = []
    for attribute in ("DIRECTORY_ENTRY_IMPORT", "DIRECTORY_ENTRY_DELAY_IMPORT"):
        tables.extend(getattr(pe, attribute, []))
    return [(entry.dll.decode("ascii"),
             [symbol.name.decode("ascii") for symbol in entry.imports
              if symbol.name is not None])
            for entry in tables]


class Flags(int):
    """A style DWORD that shows itself in hex in failure messages."""

    def __repr__(self):
        return "0x%08X" % self


class TemplateReader:
    """Reads the little-endian fields of a dialog template in order."""

    def __init__(self, data):
        self.data = data
        self.offset = 0

    def unpack(self, layout):
        values = struct.unpack_from("<" + layout, self.data, self.offset)
        self.offset += struct.calcsize("<" + layout)
        return values if len(values) > 1 else values[0]

    def text(self):
        end = self.offset
        while self.data[end:end + 2] != b"\0\0":
            end += 2
        value = self.data[self.offset:end].decode("utf-16-le")
        self.offset = end + 2
        return value

    def text_or_ordinal(self):
        """sz_Or_Ord: None when empty, an int for an 0xFFFF ordinal,
        otherwise the text."""
        first = struct.unpack_from("<H", self.data, self.offset)[0]
        if first == 0x0000:
            self.offset += 2
            return None
        if first == 0xFFFF:
            self.offset += 2
            return self.unpack("H")
        return self.text()

    def align(self):
        self.offset += -self.offset % 4

    def rest(self):
        return self.data[self.offset:]


def read_dialog(data):
    """Parses a DLGTEMPLATEEX and its DLGITEMTEMPLATEEX items."""
    reader = TemplateReader(data)
    dialog = {}
    for field, layout in (("dlgVer", "H"), ("signature", "H"),
                          ("helpID", "I"), ("exStyle", "I"), ("style", "I"),
                          ("cDlgItems", "H"), ("x", "h"), ("y", "h"),
                          ("cx", "h"), ("cy", "h")):
        dialog[field] = reader.unpack(layout)
    dialog["exStyle"] = Flags(dialog["exStyle"])
    dialog["style"] = Flags(dialog["style"])
    if (dialog["dlgVer"], dialog["signature"]) != (1, 0xFFFF):
        raise ValueError("not an extended dialog template")
    dialog["menu"] = reader.text_or_ordinal()
    dialog["windowClass"] = reader.text_or_ordinal()
    dialog["title"] = reader.text()
    # The font block is only there when the dialog asks for a font.
    if dialog["style"] & DS_SETFONT:
        for field, layout in (("pointsize", "H"), ("weight", "H"),
                              ("italic", "B"), ("charset", "B")):
            dialog[field] = reader.unpack(layout)
        dialog["typeface"] = reader.text()

    items = []
    for _ in range(dialog["cDlgItems"]):
        reader.align()
        item = {}
        for field, layout in (("helpID", "I"), ("exStyle", "I"),
                              ("style", "I"), ("x", "h"), ("y", "h"),
                              ("cx", "h"), ("cy", "h"), ("id", "I")):
            item[field] = reader.unpack(layout)
        item["exStyle"] = Flags(item["exStyle"])
        item["style"] = Flags(item["style"])
        item["class"] = control_class(reader.text_or_ordinal())
        item["title"] = reader.text_or_ordinal()
        item["extraCount"] = reader.unpack("H")
        reader.offset += item["extraCount"]
        items.append(item)
    return dialog, items, reader.rest()


def control_class(value):
    """The predefined control classes may be stored as an ordinal or by name;
    Windows treats both the same, and which one a template holds depends on
    the resource compiler and the statement used."""
    ordinals = {0x0080: "button", 0x0081: "edit", 0x0082: "static",
                0x0083: "listbox", 0x0084: "scrollbar", 0x0085: "combobox"}
    if isinstance(value, int):
        return ordinals.get(value, value)
    return value.lower()


def string_block(data):
    """The 16 strings of one string-table block."""
    reader = TemplateReader(data)
    strings = []
    for _ in range(16):
        length = reader.unpack("H")
        strings.append(reader.data[reader.offset:reader.offset + length * 2]
                       .decode("utf-16-le"))
        reader.offset += length * 2
    return strings


class HeaderTest(unittest.TestCase):

    def test_is_an_image_for_the_expected_machine(self):
        # i386: a PE32 image; amd64: a PE32+ image.
        machine, magic = {
            "i386": ("IMAGE_FILE_MACHINE_I386", pefile.OPTIONAL_HEADER_MAGIC_PE),
            "amd64": ("IMAGE_FILE_MACHINE_AMD64", pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS),
        }[MACHINE]
        self.assertEqual(pe.FILE_HEADER.Machine, pefile.MACHINE_TYPE[machine])
        self.assertEqual(pe.OPTIONAL_HEADER.Magic, magic)

    def test_carries_no_build_time_stamp(self):
        # Two builds of the same sources must be byte-identical, so that
        # anyone can check a shipped launcher against the published sources.
        self.assertEqual(pe.FILE_HEADER.TimeDateStamp, 0)

    def test_uses_the_gui_subsystem(self):
        # A console-subsystem launcher would flash a console window.
        self.assertEqual(pe.OPTIONAL_HEADER.Subsystem,
                         pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"])

    def test_carries_the_required_header_flags(self):
        for flag, reason in REQUIRED_DLL_CHARACTERISTICS.items():
            with self.subTest(flag=flag):
                self.assertTrue(pe.OPTIONAL_HEADER.DllCharacteristics
                                & pefile.DLL_CHARACTERISTICS[flag], reason)

    def test_sections_stay_within_their_limits(self):
        sizes = {section.Name.rstrip(b"\0").decode("ascii"): section.Misc_VirtualSize
                 for section in pe.sections}
        for name, limit in SECTION_LIMITS.items():
            with self.subTest(section=name):
                self.assertLessEqual(sizes.get(name[:8], 0), limit)


class ImportTest(unittest.TestCase):

    def test_imports_only_allowed_system_dlls(self):
        dlls = [name for name, _ in imported_dlls()]
        self.assertIn("kernel32.dll", [name.lower() for name in dlls])
        for name in dlls:
            with self.subTest(dll=name):
                self.assertTrue(
                    name.lower() in ALLOWED_IMPORTS
                    or name.lower().startswith(ALLOWED_IMPORT_PREFIXES),
                    "%s is not an allowed system DLL" % name)

    def test_loads_planting_targets_and_runtime_dlls_only_at_run_time(self):
        for name, _ in imported_dlls():
            with self.subTest(dll=name):
                self.assertFalse(name.lower().startswith(FORBIDDEN_IMPORT_PREFIXES),
                                 "%s must not be in the import tables" % name)

    def test_names_neither_version_dll_nor_its_functions(self):
        # Version resources are read by the launcher's own code: the system's
        # version functions trust the sizes a damaged file gives them.
        data = bytes(pe.__data__).lower()
        for name in ("version.dll", "getfileversioninfo", "verqueryvalue"):
            for encoding in ("ascii", "utf-16-le"):
                with self.subTest(name=name, encoding=encoding):
                    self.assertNotIn(name.encode(encoding), data)

    def test_imports_none_of_the_functions_it_must_not(self):
        for name, functions in imported_dlls():
            for function, reason in NOT_IMPORTED.items():
                with self.subTest(dll=name, function=function):
                    self.assertNotIn(function, functions, reason)


class ResourceTest(unittest.TestCase):

    maxDiff = None

    def resource(self, kind, name, language):
        key = (kind, name, language)
        if key not in resources:
            self.fail("resource type %d, id %d, language %d is missing; "
                      "the executable has %s"
                      % (key + (", ".join(sorted(map(str, resources))),)))
        return resources[key]

    def test_each_resource_is_in_its_language_only(self):
        # A missing or misplaced LANGUAGE statement moves resources to the
        # compiler's default language; this catches it for each of them.
        expected = (
            (RT_STRING, 7, CHINESE_PRC),       # the block holding 96..111
            (RT_GROUP_ICON, 107, CHINESE_PRC),
            (RT_GROUP_ICON, 108, CHINESE_PRC),
            (RT_DIALOG, 103, CHINESE_PRC),
            (RT_VERSION, 1, CHINESE_PRC),
            (RT_MANIFEST, 1, ENGLISH_US),
        )
        for kind, name, language in expected:
            with self.subTest(type=kind, id=name):
                languages = {key[2] for key in resources
                             if key[:2] == (kind, name)}
                self.assertEqual(languages, {language})

    def test_string_table_holds_title_and_class_name(self):
        strings = string_block(self.resource(RT_STRING, 7, CHINESE_PRC))
        expected = {103: "Orvellane", 109: "PELTERIN"}
        for string_id in range(96, 112):
            with self.subTest(id=string_id):
                self.assertEqual(strings[string_id - 96],
                                 expected.get(string_id, ""))

    def test_icon_groups_share_one_64x64_32_bpp_image(self):
        images = []
        for group_id in (107, 108):
            with self.subTest(group=group_id):
                reader = TemplateReader(
                    self.resource(RT_GROUP_ICON, group_id, CHINESE_PRC))
                self.assertEqual(reader.unpack("HHH"), (0, 1, 1))
                (width, height, colours, _, planes, bits, size,
                 icon_id) = reader.unpack("BBBBHHIH")
                self.assertEqual((width, height, colours, planes, bits),
                                 (64, 64, 0, 1, 32))
                image = self.resource(RT_ICON, icon_id, CHINESE_PRC)
                self.assertEqual(len(image), size)
                # PNG: 64 x 64, 8 bits a channel, RGBA, not all transparent.
                self.assertEqual(image[:8], b"\x89PNG\r\n\x1a\n")
                self.assertEqual(image[12:16] + image[16:26],
                                 b"IHDR" + struct.pack(">IIBB", 64, 64, 8, 6))
                rows = zlib.decompressobj().decompress(image[image.index(b"IDAT") + 4:])
                self.assertEqual(len(rows), 64 * (1 + 64 * 4))
                pixels = (byte for i, byte in enumerate(rows) if i % (1 + 64 * 4))
                self.assertTrue(any(pixels), "the image is empty")
                images.append(hashlib.sha256(image).hexdigest())
        self.assertEqual(len(images), 2)
        self.assertEqual(images[0], images[1], "the two groups' images differ")

    def test_about_dialog_template(self):
        dialog, items, rest = read_dialog(self.resource(RT_DIALOG, 103,
                                                        CHINESE_PRC))
        self.assertEqual(dialog, {
            "dlgVer": 1, "signature": 0xFFFF, "helpID": 0,
            "exStyle": Flags(0),
            "style": Flags(DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS | WS_POPUP
                           | WS_CAPTION | WS_SYSMENU),
            "cDlgItems": 4, "x": 0, "y": 0, "cx": 170, "cy": 62,
            "menu": None, "windowClass": None, "title": "关于 Pelterin",
            "pointsize": 9, "weight": 400, "italic": 0, "charset": 1,
            "typeface": "MS Shell Dlg",
        })

        child = WS_CHILD | WS_VISIBLE
        notice = items[2]["title"] if len(items) > 2 else None
        expected = [
            # class, title, id, x, y, cx, cy, style
            ("static", 128, IDC_STATIC, 14, 14, 21, 20, child | SS_ICON),
            ("static", "Pelterin, 版本 1.0", IDC_STATIC, 42, 14, 114, 8,
             child | SS_NOPREFIX | WS_GROUP),
            ("static", notice, IDC_STATIC, 42, 26, 114, 8,
             child | SS_LEFT | WS_GROUP),
            ("button", "确定", IDOK, 113, 41, 50, 14,
             child | BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP),
        ]
        self.assertEqual(len(items), len(expected))
        for index, (item, row) in enumerate(zip(items, expected)):
            with self.subTest(control=index):
                kind, title, control_id, x, y, cx, cy, style = row
                self.assertEqual(item, {
                    "helpID": 0, "exStyle": Flags(0), "style": Flags(style),
                    "x": x, "y": y, "cx": cx, "cy": cy, "id": control_id,
                    "class": kind, "title": title, "extraCount": 0,
                })
        # The free-text line: present, and on one line.
        self.assertIsInstance(notice, str)
        self.assertTrue(notice.strip())
        self.assertNotRegex(notice, "[\r\n]")
        # Nothing after the last control but padding.
        self.assertEqual(rest.strip(b"\0"), b"")

    def manifest(self):
        manifests = [key for key in resources if key[0] == RT_MANIFEST]
        self.assertEqual(manifests, [(RT_MANIFEST, 1, ENGLISH_US)])
        root = ElementTree.fromstring(resources[manifests[0]])
        self.assertEqual(root.tag, "{urn:schemas-microsoft-com:asm.v1}assembly")
        return root

    def window_setting(self, root, namespace, name):
        """The text of one windowsSettings element, where Windows looks."""
        found = root.findall(
            "{urn:schemas-microsoft-com:asm.v3}application/"
            "{urn:schemas-microsoft-com:asm.v3}windowsSettings/"
            "{%s}%s" % (namespace, name))
        self.assertEqual(len(found), 1, "no %s where Windows looks for it" % name)
        return found[0].text.strip()

    def test_manifest_runs_as_invoker_and_is_long_path_aware(self):
        root = self.manifest()

        # Windows reads the trustInfo block in the v2 or the v3 namespace and
        # ignores it anywhere else; ignored, it would leave the elevation
        # decision to Windows' installer detection.
        levels = []
        for version in ("v2", "v3"):
            levels += root.findall("/".join(
                "{urn:schemas-microsoft-com:asm.%s}%s" % (version, tag)
                for tag in ("trustInfo", "security", "requestedPrivileges",
                            "requestedExecutionLevel")))
        self.assertEqual(len(levels), 1, "no requestedExecutionLevel where "
                         "Windows looks for it")
        self.assertEqual(levels[0].attrib,
                         {"level": "asInvoker", "uiAccess": "false"})

        self.assertEqual(self.window_setting(root, SETTINGS_2016, "longPathAware").lower(),
                         "true")

    def test_manifest_makes_the_box_sharp_themed_and_unshimmed(self):
        root = self.manifest()
        # Per-monitor DPI awareness, in both the Windows 8.1 and the Windows
        # 10 (v2 first) forms.
        self.assertEqual(self.window_setting(root, SETTINGS_2005, "dpiAware"), "true/pm")
        self.assertEqual(self.window_setting(root, SETTINGS_2016, "dpiAwareness"),
                         "PerMonitorV2, PerMonitor")
        # Windows 7, 8, 8.1 and 10/11, so none applies compatibility shims.
        supported = root.findall("{%s}compatibility/{%s}application/{%s}supportedOS"
                                 % ((COMPATIBILITY,) * 3))
        self.assertEqual(sorted(element.get("Id") for element in supported), sorted(
            ["{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
             "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"]))
        # Common Controls 6: the system's visual style for the box and dialog.
        identities = root.findall("{%s}dependency/{%s}dependentAssembly/{%s}assemblyIdentity"
                                  % ((ASSEMBLY_V1,) * 3))
        self.assertEqual([identity.attrib for identity in identities], [{
            "type": "win32", "name": "Microsoft.Windows.Common-Controls",
            "version": "6.0.0.0", "processorArchitecture": "*",
            "publicKeyToken": "6595b64144ccf1df", "language": "*"}])

    def test_version_information_names_the_launcher(self):
        self.resource(RT_VERSION, 1, CHINESE_PRC)
        fixed = pe.VS_FIXEDFILEINFO[0]
        self.assertEqual((fixed.Signature, fixed.FileVersionMS, fixed.FileVersionLS),
                         (0xFEEF04BD, 0x00010000, 0x00000000))
        tables = [table for info in pe.FileInfo[0] if info.Key == b"StringFileInfo"
                  for table in info.StringTable]
        self.assertEqual([table.LangID for table in tables], [b"080404b0"])
        strings = {key.decode(): value.decode() for key, value in tables[0].entries.items()}
        self.assertEqual({key: strings.get(key) for key in
                          ("ProductName", "FileDescription", "FileVersion", "OriginalFilename")},
                         {"ProductName": "Orvellane", "FileDescription": "Orvellane launcher",
                          "FileVersion": "1.0.0.0", "OriginalFilename": "Pelterin.exe"})

    def test_has_no_menu_and_no_accelerator_table(self):
        # The window class names menu 109 and the entry point loads
        # accelerator table 109; both must find nothing, so that the user
        # has no way to send the About or Exit commands.
        kinds = {key[0] for key in resources}
        self.assertNotIn(RT_MENU, kinds)
        self.assertNotIn(RT_ACCELERATOR, kinds)


def main():
    global EXE_PATH, MACHINE
    arguments = sys.argv[1:]
    if arguments and not arguments[0].startswith("-"):
        EXE_PATH = arguments.pop(0)
    if arguments and arguments[0] in ("i386", "amd64"):
        MACHINE = arguments.pop(0)
    if not EXE_PATH:
        sys.exit("usage: check_binary.py PELTERIN_EXE [i386|amd64] [unittest options]")
    unittest.main(argv=[sys.argv[0]] + arguments, verbosity=2)


if __name__ == "__main__":
    main()
