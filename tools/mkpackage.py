#!/usr/bin/env python3
"""Builds the package that setup carries behind its image and appends it to a launcher.

    mkpackage.py --launcher setup.exe --folder DIR --out OUT.exe
                 [--compress GLOB ...] [--third TEXT]
                 [--raw-entry STORED TARGET THIRD SIZE DATAFILE ...]

Every file under DIR becomes one entry (sorted by path), its target path relative to DIR
with "\\" between folders. A file whose path relative to DIR (with "/") matches one of the
--compress globs is stored LZ-compressed by mscompress under the compressed name: the last
character of the extension replaced by "_" ("readme.txt" -> "readme.tx_"), "_" appended to
a shorter extension ("a.c" -> "a.c_") and "._" to a name without one.

--raw-entry adds an entry exactly as given, after the folder's entries: any stored name,
target path, third text and size text (not checked: "12x" is written as it is), and the
bytes of DATAFILE ("-" for none). Tests use it for hostile packages; --folder may then be
left out.

The launcher is copied byte for byte and the package follows its last byte, so the
launcher must be a stripped, unsigned PE file with nothing behind its image: setup finds
the package where the image ends. Any other launcher is refused (exit code 2).

As a module: Entry, folder_entries(), package_bytes(), image_end() and write_package().

Layout: a 32-bit little-endian entry count, then per entry the stored name, the target
path, the third text and the size in decimal, each UTF-16LE ended by a 16-bit zero, then
the size's bytes of data.
"""
import argparse
import fnmatch
import os
import shutil
import struct
import subprocess
import sys
import tempfile
from dataclasses import dataclass

REFUSED = 2


@dataclass
class Entry:
    stored: str
    target: str
    third: str
    data: bytes
    size_text: str | None = None  # None: the data's length

    def encode(self) -> bytes:
        size = str(len(self.data)) if self.size_text is None else self.size_text
        out = bytearray()
        for text in (self.stored, self.target, self.third, size):
            out += text.encode("utf-16-le") + b"\0\0"
        out += self.data
        return bytes(out)


def package_bytes(entries, count=None) -> bytes:
    """The package; `count` overrides the entry count written in front."""
    head = struct.pack("<I", len(entries) if count is None else count)
    return head + b"".join(e.encode() for e in entries)


def compressed_name(name: str) -> str:
    stem, dot, ext = name.rpartition(".")
    if not dot or not stem:
        return name + "._"
    if len(ext) < 3:
        return name + "_"
    return f"{stem}.{ext[:-1]}_"


def lz_compress(data: bytes, name: str) -> bytes:
    """SZDD bytes of `data`, made by mscompress; the header keeps the replaced character."""
    if shutil.which("mscompress") is None:
        raise SystemExit("mkpackage: mscompress is missing (Debian package mscompress)")
    with tempfile.TemporaryDirectory() as work:
        source = os.path.join(work, "in")
        with open(source, "wb") as f:
            f.write(data)
        subprocess.run(["mscompress", source], check=True, stdout=subprocess.DEVNULL)
        with open(source + "_", "rb") as f:
            out = bytearray(f.read())
    if out[:8] != b"SZDD\x88\xf0\x27\x33":
        raise SystemExit("mkpackage: mscompress did not write an SZDD file")
    stem, dot, ext = name.rpartition(".")
    if dot and stem and len(ext) >= 3:
        out[9] = ord(ext[-1]) if ord(ext[-1]) < 128 else 0
    return bytes(out)


def folder_entries(folder: str, compress=(), third: str = ""):
    entries = []
    for root, dirs, files in os.walk(folder):
        dirs.sort()
        for name in sorted(files):
            path = os.path.join(root, name)
            relative = os.path.relpath(path, folder).replace(os.sep, "/")
            with open(path, "rb") as f:
                data = f.read()
            target = relative.replace("/", "\\")
            if any(fnmatch.fnmatch(relative, g) for g in compress):
                stored = compressed_name(name)
                if stored.lower() == name.lower():
                    raise SystemExit(f"mkpackage: {relative}: the compressed name is the file's own name")
                entries.append(Entry(stored, target, third, lz_compress(data, name)))
            else:
                entries.append(Entry(name, target, third, data))
    return entries


class NotALauncher(Exception):
    pass


def image_end(image: bytes) -> int:
    """SizeOfHeaders plus every section's raw size; refuses what setup would misread."""
    if len(image) < 0x40 or image[:2] != b"MZ":
        raise NotALauncher("no MZ header")
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if pe + 24 > len(image) or image[pe:pe + 4] != b"PE\0\0":
        raise NotALauncher("no PE header")
    sections, symbols_at, symbol_count, optional_size = struct.unpack_from("<H4xIIH", image, pe + 6)
    if symbols_at or symbol_count:
        raise NotALauncher("it carries a COFF symbol table (link it stripped)")
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    directories = optional + {0x10B: 96, 0x20B: 112}.get(magic, -1)
    if directories < optional:
        raise NotALauncher("unknown optional header")
    end = struct.unpack_from("<I", image, optional + 60)[0]
    directory_count = struct.unpack_from("<I", image, directories - 4)[0]
    if directory_count > 4 and struct.unpack_from("<II", image, directories + 4 * 8)[1]:
        raise NotALauncher("it is signed")
    table = optional + optional_size
    for i in range(sections):
        end += struct.unpack_from("<I", image, table + 40 * i + 16)[0]
    if end != len(image):
        raise NotALauncher(f"its image ends at {end} but the file has {len(image)} bytes")
    return end


def write_package(launcher: str, out: str, entries, count=None) -> int:
    """Writes launcher + package to `out`; answers the package's offset."""
    with open(launcher, "rb") as f:
        image = f.read()
    offset = image_end(image)
    tmp = out + ".tmp"
    with open(tmp, "wb") as f:
        f.write(image)
        f.write(package_bytes(entries, count))
    os.replace(tmp, out)
    return offset


def main(argv=None) -> int:
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--launcher", required=True)
    p.add_argument("--folder")
    p.add_argument("--out", required=True)
    p.add_argument("--compress", action="append", default=[], metavar="GLOB")
    p.add_argument("--third", default="")
    p.add_argument("--raw-entry", action="append", nargs=5, default=[],
                   metavar=("STORED", "TARGET", "THIRD", "SIZE", "DATAFILE"))
    p.add_argument("--count", type=int, help="entry count to write in place of the real one")
    args = p.parse_args(argv)
    if args.folder is None and not args.raw_entry:
        p.error("give --folder or --raw-entry")

    entries = folder_entries(args.folder, args.compress, args.third) if args.folder else []
    for stored, target, third, size, datafile in args.raw_entry:
        data = b""
        if datafile != "-":
            with open(datafile, "rb") as f:
                data = f.read()
        entries.append(Entry(stored, target, third, data, size))
    try:
        write_package(args.launcher, args.out, entries, args.count)
    except NotALauncher as e:
        print(f"mkpackage: {args.launcher}: refused: {e}", file=sys.stderr)
        return REFUSED
    return 0


if __name__ == "__main__":
    sys.exit(main())
