#!/usr/bin/python3
"""What reading the settings file costs as it grows: settings_bench's own
Google Benchmark table for ReadStoredVersion on files of about 4 KB, 1 MB and
16 MB (the largest the launcher reads), then the peak memory of one lookup in
the smallest and the largest.

    /usr/bin/python3 bench/settings_cost.py SETTINGS_BENCH SCRATCH [--repetitions N] [FLAGS]
    /usr/bin/python3 bench/settings_cost.py SETTINGS_BENCH SCRATCH --shapes [--wine EXE]

SETTINGS_BENCH is the built bench/settings_bench; the files go to SCRATCH;
further FLAGS go to Google Benchmark. With --shapes, instead, one lookup of
each of the costliest shapes of file at each limit of stored_version.h and
just past it: its time, peak memory and what it found, natively, and with
--wine also under 64-bit Wine, by EXE (bench/settings_read_once.exe of the
windows-x64 build).
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


def in_root(body, value="1.0.4.0", pad=0):
    """`body` under a root, then the key; `pad` bytes of text in one more
    element first, to bring the file up to a size. Two tags besides the body's
    (three with the padding)."""
    padding = f"<pad>{'x' * pad}</pad>" if pad else ""
    return f"<r>{padding}{body}{KEY.format(value)}</r>".encode()


def shapes(limit):
    """(name, file) of the costliest shapes at each limit and just past it."""
    size, markup = limit["kMaxSettingsBytes"], limit["kMaxSettingsMarkup"]
    attributes, search = limit["kMaxAttributesPerElement"], limit["kMaxReferenceSearchBytes"]

    def padded(body, tags):
        """`body` and as much padding as the size limit leaves."""
        return in_root(body, pad=size - len(in_root(body, pad=1)) + 1) if tags else b""

    element = "<e " + " ".join(f'a{i}=""' for i in range(attributes)) + "/>"
    many = (markup - 3) // (attributes + 1)
    rest = markup - 3 - many * (attributes + 1)
    # n references of 3 bytes without ';' search 3 n (n + 1) / 2 bytes.
    references = max(n for n in range(1, 20000) if 3 * n * (n + 1) // 2 <= search)
    ordinary = "    <music_volume_{:06d}>0.8</music_volume_{:06d}>\n"
    rows = [
        ("16 MiB of text (one element)", in_root("", pad=size - len(in_root("", pad=1)) + 1)),
        ("a byte more", in_root("", pad=size - len(in_root("", pad=1)) + 2)),
        ("16 MiB in one comment", in_root("<!--" + "x" * (size - 90) + "-->")),
    ]
    for name, item in (("<k>v</k>", "<k>v</k>"), ("<a/>x", "<a/>x"), ("<!---->", "<!---->"),
                       ("<?p?> before the root", None)):
        if item is None:
            at = ("<?p?>" * (markup - 2)).encode() + in_root("")
            over = ("<?p?>" * (markup - 1)).encode() + in_root("")
        else:
            at, over = padded(item * (markup - 3), 1), in_root(item * (markup - 1))
        padding = ", padded to 16 MiB" if len(at) == size else ""
        rows += [(f"{name} up to the markup limit{padding}", at),
                 (f"{name}, one more", over)]
    rows += [
        (f"{many} elements of {attributes} attributes, padded to 16 MiB",
         padded(element * many + "<k/>" * rest, 1)),
        ("one more attribute on the last", in_root(element * many + "<k/>" * rest)
         .replace(b'"/><k/>', b'" b=""/><k/>', 1) if rest else b""),
        (f"one element of {attributes} attributes", in_root(element)),
        (f"one element of {attributes + 1}", in_root(element.replace("/>", ' b=""/>'))),
        (f"{references} references without ';' in the key",
         in_root("", value="&#1" * references)),
        ("one more", in_root("", value="&#1" * (references + 1))),
        ("16 MiB of <k>v</k>, refused", in_root("<k>v</k>" * ((size - 70) // 8))),
        ("100,000 attributes on one element, refused",
         in_root("<e " + " ".join(f'a{i}=""' for i in range(100000)) + "/>")),
        ("4 MiB of the game's own keys",
         in_root("".join(ordinary.format(i, i) for i in range((4 << 20) // 52)))),
    ]
    return [(name, data) for name, data in rows if data]


def read_once(command, folder):
    """seconds, peak KiB and what the lookup found (or why not) in `folder`."""
    done = subprocess.run(command, cwd=folder, capture_output=True, text=True, timeout=600)
    fields = dict(line.split(": ", 1) for line in done.stdout.splitlines() if ": " in line)
    peak = fields.get("peak_kib") or re.search(r"VmHWM:\s*(\d+)", done.stdout).group(1)
    why = fields.get("why_none", "?")
    found = "read" if why == "-" else why.replace("UserDefault.xml ", "").split(", so")[0]
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
        seconds, peak, found = read_once([args.bench.resolve(), f"--read-once={folder.resolve()}"], folder)
        under_wine = ""
        if args.wine:
            wine_seconds, wine_peak, wine_found = read_once(
                [wine, "--arch", "win64", args.wine.resolve()], folder)
            under_wine = f"{wine_seconds:.3f} s, {wine_peak / 1024:.0f} MiB"
            if wine_found != found:
                under_wine += f" ({wine_found})"
        print(f"| {name} | {len(data):,} | {seconds:.3f} s, {peak / 1024:.0f} MiB | {under_wine} |"
              f" {found} |", flush=True)
        (folder / "UserDefault.xml").unlink()


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
    parser.add_argument("--shapes", action="store_true",
                        help="the costliest shapes at each limit instead")
    parser.add_argument("--wine", type=Path, metavar="EXE",
                        help="with --shapes: also under 64-bit Wine, by EXE")
    args, flags = parser.parse_known_args()
    if args.shapes:
        report_shapes(args)
        return

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
