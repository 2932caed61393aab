#!/usr/bin/python3
"""What reading the settings file costs.

    /usr/bin/python3 bench/settings_cost.py SETTINGS_BENCH SCRATCH [--repetitions N] [FLAGS]
    /usr/bin/python3 bench/settings_cost.py SETTINGS_BENCH SCRATCH --shapes [--wine EXE]

Without --shapes: SETTINGS_BENCH's Google Benchmark table (FLAGS go to it) of
ReadStoredVersion on game-like files of about 4 KB, 1 MB and 16 MB, written into
SCRATCH, and the peak memory of one lookup. With --shapes: one lookup of each
costliest file at each limit of stored_version.h and just past it, natively and
with --wine under 64-bit Wine by EXE (bench/settings_read_once.exe).
"""
import argparse
import re
import subprocess
from pathlib import Path

HERE = Path(__file__).resolve().parent
KEY = "<win32_app_new_version>{}</win32_app_new_version>"


def limits():
    """The limits as stored_version.h sets them, by name."""
    header = (HERE.parent / "launch" / "stored_version.h").read_text()
    found = re.findall(r"const \S+ (kMax\w+) = ([^;]+);", header)
    return {name: eval(re.sub(r"(?<=\d)[uUlL]+", "", value)) for name, value in found}


def in_root(body, value="1.0.4.0", size=0):
    """`body` under a root, then the key: two tags besides the body's. With
    `size`, one more element of text first brings the file up to that size."""
    plain = f"<r>{body}{KEY.format(value)}</r>"
    pad = f"<pad>{'x' * (size - len(plain) - 11)}</pad>" if size else ""
    return f"<r>{pad}{body}{KEY.format(value)}</r>".encode()


def attributes(count, prefix="a"):
    return "".join(f" {prefix}{i:02d}=''" for i in range(count))


def shapes(limit):
    """(name, file) of the costliest shapes at each limit and just past it."""
    size, markup = limit["kMaxSettingsBytes"], limit["kMaxSettingsMarkup"]
    per_element = limit["kMaxAttributesPerElement"]
    compared = limit["kMaxAttributeNameComparisonBytes"]
    search, version = limit["kMaxReferenceSearchBytes"], limit["kMaxStoredVersionBytes"]
    # n references of 3 bytes without ';' search 3 n (n + 1) / 2 bytes.
    references = max(n for n in range(1, 20000) if 3 * n * (n + 1) // 2 <= search)
    # The k-th of 64 attributes compares k - 1 times its name, two digits, "=' ".
    prefix = compared // (per_element * (per_element - 1) // 2) - 5
    element = f"<e{attributes(per_element)}/>"
    end_tag = f"<e></e{attributes(per_element)}>"
    many = (markup - 3) // (per_element + 1)
    rest = markup - 3 - many * (per_element + 1)
    ordinary = "    <music_volume_{0:06d}>0.8</music_volume_{0:06d}>\n"
    return [
        ("16 MiB of text (one element)", in_root("", size=size)),
        ("a byte more", in_root("", size=size + 1)),
        ("16 MiB in one comment", in_root("<!--" + "x" * (size - 90) + "-->")),
    ] + [row for item in ("<k>v</k>", "<a/>x", "<!---->") for row in (
        (f"{item} up to the markup limit, padded to 16 MiB",
         in_root(item * (markup - 3), size=size)),
        (f"{item}, one more", in_root(item * (markup - 1))))] + [
        ("<?p?> before the root, up to the markup limit", b"<?p?>" * (markup - 2) + in_root("")),
        ("<?p?>, one more", b"<?p?>" * (markup - 1) + in_root("")),
        (f"{many} elements of {per_element} attributes, padded to 16 MiB",
         in_root(element * many + "<k/>" * rest, size=size)),
        (f"{many} end tags of {per_element} attributes, padded to 16 MiB",
         in_root(end_tag * many + "<k/>" * rest, size=size)),
        ("one more attribute on the last end tag",
         in_root(end_tag * many + "<k/>" * rest).replace(b"''><k/>", b"'' b=''><k/>", 1)),
        (f"{per_element} attributes of {prefix:,}-byte names sharing all but 2 bytes",
         in_root(f"<e{attributes(per_element, 'p' * prefix)}/>")),
        ("names a byte longer", in_root(f"<e{attributes(per_element, 'p' * (prefix + 1))}/>")),
        (f"{references} references without ';' in the key", in_root("", value="&#1" * references)),
        ("one more", in_root("", value="&#1" * (references + 1))),
        (f"{references} in an attribute value, decoded for a duplicate",
         in_root(f"<e a='{'&#1' * references}' a=''/>")),
        ("one more", in_root(f"<e a='{'&#1' * (references + 1)}' a=''/>")),
        ("every limit at once, padded to 16 MiB",
         in_root(f"<e{attributes(per_element, 'p' * prefix)}/>"
                 + "<k>v</k>" * (markup - 4 - per_element), value="&#1" * references, size=size)),
        (f"a version of {version} bytes", in_root("", value="1" + ".0" * ((version - 1) // 2))),
        ("16 MiB of version, refused", in_root("", value="1" + ".0" * ((size - 70) // 2))),
        ("16 MiB of <k>v</k>, refused", in_root("<k>v</k>" * ((size - 70) // 8))),
        ("100,000 attributes on one end tag, refused", in_root(f"<e></e{attributes(100000)}>")),
        ("4 MiB of the game's own keys",
         in_root("".join(ordinary.format(i) for i in range((4 << 20) // 52)))),
    ]


def read_once(command, folder):
    """seconds, peak KiB and what the lookup found (or why not) in `folder`."""
    done = subprocess.run(command, cwd=folder, capture_output=True, text=True, timeout=600)
    fields = dict(line.split(": ", 1) for line in done.stdout.splitlines() if ": " in line)
    peak = fields.get("peak_kib") or re.search(r"VmHWM:\s*(\d+)", done.stdout).group(1)
    why = fields.get("why_none", "?")
    found = "read" if why == "-" else re.sub(r"^UserDefault.xml |, so it is not read$", "", why)
    return float(fields.get("seconds", "nan")), int(peak), found


def report_shapes(args):
    limit = limits()
    print("  Limits: " + ", ".join(f"{name} {value:,}" for name, value in limit.items()))
    wine = HERE.parent / "scripts" / "wine-run"
    print("\n| shape | bytes | natively | 64-bit Wine | result |\n|---|---:|---|---|---|")
    for number, (name, data) in enumerate(shapes(limit)):
        folder = args.scratch / f"shape-{number:02d}"
        folder.mkdir(parents=True, exist_ok=True)
        (folder / "UserDefault.xml").write_bytes(data)
        seconds, peak, found = read_once([args.bench, f"--read-once={folder.resolve()}"], folder)
        under_wine = ""
        if args.wine:
            wine_seconds, wine_peak, wine_found = read_once(
                [wine, "--arch", "win64", args.wine.resolve()], folder)
            under_wine = f"{wine_seconds:.3f} s, {wine_peak / 1024:.0f} MiB" + (
                f" ({wine_found})" if wine_found != found else "")
        print(f"| {name} | {len(data):,} | {seconds:.3f} s, {peak / 1024:.0f} MiB | {under_wine} |"
              f" {found} |", flush=True)
        (folder / "UserDefault.xml").unlink()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("bench", type=lambda name: Path(name).resolve())
    parser.add_argument("scratch", type=Path)
    # At least 2: with one, Google Benchmark 1.7 leaves the largest file out of its table.
    parser.add_argument("--repetitions", type=int, default=5, choices=range(2, 100),
                        metavar="N (2 or more)")
    parser.add_argument("--shapes", action="store_true", help="the costliest shapes instead")
    parser.add_argument("--wine", type=Path, metavar="EXE", help="with --shapes: also under Wine")
    args, flags = parser.parse_known_args()
    if args.shapes:
        return report_shapes(args)
    print(f"  One lookup, {args.repetitions} repetitions (cv: their coefficient of variation), the"
          " file from the page cache;\n  bytes_per_second level across sizes (and the BigO fit)"
          " means the cost is linear.\n", flush=True)
    subprocess.run([args.bench, f"--files={args.scratch}", "--benchmark_counters_tabular=true",
                    f"--benchmark_repetitions={args.repetitions}",
                    "--benchmark_report_aggregates_only=true", *flags],
                   check=True, stderr=subprocess.STDOUT)
    small, large = (read_once([args.bench, f"--read-once={args.scratch / name}"], args.scratch)[1]
                    for name in ("4KB", "16MB"))
    size = (args.scratch / "16MB" / "UserDefault.xml").stat().st_size
    print(f"\n  Peak memory of one lookup: {large / 1024:.1f} MiB for the 16 MB file, {small / 1024:.1f}"
          f" MiB for the 4 KB one (the program itself): the file costs {(large - small) / 1024:.1f}"
          f" MiB, {(large - small) * 1024 / size:.2f}x its size of {size / 1048576:.1f} MiB")


if __name__ == "__main__":
    main()
