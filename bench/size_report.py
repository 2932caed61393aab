#!/usr/bin/python3
"""The size of a release Pelterin.exe against its size before the lean runtime
(bench/before.json) and the targets, its imports and sections (pefile), and
the archives and objects of its link map that take the room.

    /usr/bin/python3 bench/size_report.py BUILD_DIR
"""
import json
import os
import re
import sys
from collections import defaultdict
from pathlib import Path

import pefile

HERE = Path(__file__).resolve().parent
KINDS = [".text", ".eh_frame", ".rdata", ".data", ".rsrc", "other"]
TARGET, STRETCH = 100 * 1024, 80 * 1024  # bytes; shown as met or not, never enforced


def print_file(exe):
    pe = pefile.PE(str(exe))
    amd64 = pe.FILE_HEADER.Machine == pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"]
    before = json.loads((HERE / "before.json").read_text())["amd64" if amd64 else "i386"]
    size, old = exe.stat().st_size, before["bytes"]
    print(f"  Pelterin.exe: {size} bytes = {size / 1024:.1f} KiB (before: {old} bytes ="
          f" {old / 1024:.1f} KiB, {(old - size) * 100 / old:.0f}% less)\n  target <= 100 KiB:"
          f" {'met' if size <= TARGET else 'not met'}; stretch <= 80 KiB:"
          f" {'met' if size <= STRETCH else 'not met'}")
    tables = [(entry.dll.decode(), len(entry.imports)) for entry in pe.DIRECTORY_ENTRY_IMPORT]
    print(f"  imports: {' '.join(dll for dll, _ in tables)}  (statically linked: no runtime DLLs;"
          f" not packed)\n  imported functions: {sum(count for _, count in tables)} (before:"
          f" {before['imported_functions']}): " + ", ".join(f"{dll} {n}" for dll, n in tables))
    print("\n  Sections:")
    stored = 0
    for section in pe.sections:
        name, size = section.Name.rstrip(b"\0").decode(), section.Misc_VirtualSize
        stored += size if section.SizeOfRawData else 0
        print(f"    {name.replace('.eh_fram', '.eh_frame'):10s} {size:8d} bytes {size / 1024:6.1f}"
              f" KB{'' if section.SizeOfRawData else '  (not stored in the file)'}")
    print(f"    {'stored':10s} {stored:8d} bytes {stored / 1024:6.1f} KB, before alignment to 512 bytes")
    return exe.stat().st_size


def source_of(path):
    """(contributor, object) for an input file named in a GNU ld map."""
    member = re.match(r"^(.*?)\(([^()]*)\)$", path)
    if member:
        archive = os.path.basename(member.group(1))
        contributor = "Pelterin's own objects" if archive == "objects.a" else archive
        return contributor, f"{archive}({member.group(2)})"
    if path == "dll stuff":  # what the linker makes itself: relocations
        return "(made by the linker)", "(made by the linker)"
    return os.path.basename(path), os.path.basename(path)


def read_link_map(map_path):
    """Bytes of kept input sections by contributor and kind, and by object;
    .bss and discarded sections left out."""
    section_line = re.compile(r"^ (\S+)?\s+0x([0-9a-fA-F]+)\s+0x([0-9a-fA-F]+)\s+(\S.*)$")
    by_source = defaultdict(lambda: defaultdict(int))
    by_object = defaultdict(int)
    in_map, output, pending, skip = False, None, None, False
    for line in open(map_path, encoding="utf-8", errors="replace"):
        line = line.rstrip("\n")
        if not in_map:
            # Before this heading: discarded sections, the memory configuration.
            in_map = line.startswith("Linker script and memory map")
            continue
        if line and not line[0].isspace():
            if line.startswith(("LOAD ", "OUTPUT(")):
                continue
            output = line.split()[0]
            skip = output in (".bss", "/DISCARD/") or output.startswith((".debug", ".zdebug", ".stab"))
            pending = None
            continue
        if skip or output is None:
            continue
        if re.match(r"^ [^\s*]\S*$", line):  # a long input section name, its figures below
            pending = line.strip()
            continue
        found = section_line.match(line)
        name = (found.group(1) or pending) if found else None
        pending = None
        size = int(found.group(3), 16) if found else 0
        if not name or name.startswith("*") or name == "COMMON" or not size:
            continue
        source, obj = source_of(found.group(4).strip())
        by_source[source][output if output in KINDS else "other"] += size
        by_object[obj] += size
    return by_source, by_object


def print_link_map(map_path, exe_bytes):
    by_source, by_object = read_link_map(map_path)
    total = sum(sum(kinds.values()) for kinds in by_source.values())
    print("\n  What takes the room, from the link map (kept input sections; .bss and\n"
          "  discarded sections left out), by archive or object:\n")
    print(f"    {'contributor':28s} {'bytes':>8s} {'share':>6s}  " + " ".join(f"{k:>9s}" for k in KINDS))
    ranked = sorted(by_source.items(), key=lambda item: -sum(item[1].values()))
    for source, kinds in ranked[:10]:
        size = sum(kinds.values())
        print(f"    {source[:28]:28s} {size:8d} {size * 100 / total:5.1f}%  "
              + " ".join(f"{kinds.get(k, 0):9d}" for k in KINDS))
    if ranked[10:]:
        size = sum(sum(kinds.values()) for _, kinds in ranked[10:])
        print(f"    {f'{len(ranked) - 10} others':28s} {size:8d} {size * 100 / total:5.1f}%")
    print(f"    {'all kept input sections':28s} {total:8d}          (the other"
          f" {exe_bytes - total} bytes of the file: headers and alignment)")
    print("\n  The largest single objects:")
    for obj, size in sorted(by_object.items(), key=lambda item: -item[1])[:10]:
        print(f"    {size:8d}  {obj}")


if __name__ == "__main__":
    folder = Path(sys.argv[1]) / "frameworks" / "runtime-src" / "proj.win32"
    print_link_map(folder / "Pelterin.map", print_file(folder / "Pelterin.exe"))
