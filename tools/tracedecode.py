#!/usr/bin/env python3
"""Reads the launcher's binary trace file back into text.

    tracedecode.py [--events] TRACEFILE [OUTFILE]

The file is a run of records: a 4-byte little-endian length, then that many scrambled bytes
of 8-bit text. Without --events the unscrambled texts go out back to back, as they are.

With --events the output is one line per record or event, LF ended:
    HEADER text      each record up to and including the column names record
                     "Category|SubCategory|Details\\r\\n" (when the file has one: a file
                     the launcher appended to has none)
    Cat|Sub|Details  each event after that: its two records, "Cat|Sub|" and the details,
                     with the details' final CR LF taken off
    PARTIAL text     a last event whose details record is missing
CR and LF inside a text are shown as \\r and \\n, so that every line is one record or event.

Output goes to OUTFILE, or to stdout. A record longer than 16384 bytes or cut short by the
end of the file is refused with exit code 3, a message naming its offset, and no output at
all; an empty file gives no output and exit code 0.
"""
import argparse
import struct
import sys

KEY = 0x6C
CYCLE = 71
LONGEST = 16384
REFUSED = 3
COLUMNS = b"Category|SubCategory|Details\r\n"


class Refused(Exception):
    pass


def unscramble(data):
    # Each record's position counter starts again at 0.
    out = bytearray(len(data))
    for i, c in enumerate(data):
        u = c ^ KEY
        u = (u >> 2 | u << 6) & 0xFF
        out[i] = (u - i % CYCLE) & 0xFF
    return bytes(out)


def records(data):
    """The unscrambled texts of the file, in order."""
    texts, offset = [], 0
    while offset < len(data):
        if len(data) - offset < 4:
            raise Refused("record at offset %d: its length is cut short by the end of the file" % offset)
        (length,) = struct.unpack_from("<I", data, offset)
        if length > LONGEST:
            raise Refused("record at offset %d: length %d is above %d" % (offset, length, LONGEST))
        if offset + 4 + length > len(data):
            raise Refused("record at offset %d: %d bytes announced, %d left in the file"
                          % (offset, length, len(data) - offset - 4))
        texts.append(unscramble(data[offset + 4:offset + 4 + length]))
        offset += 4 + length
    return texts


def shown(text):
    return text.replace(b"\r", b"\\r").replace(b"\n", b"\\n")


def events(texts):
    """The --events lines for the texts."""
    headers = texts.index(COLUMNS) + 1 if COLUMNS in texts else 0
    lines = [b"HEADER " + shown(t) for t in texts[:headers]]
    rest = texts[headers:]
    for n in range(0, len(rest) - 1, 2):
        details = rest[n + 1]
        if details.endswith(b"\r\n"):
            details = details[:-2]
        lines.append(shown(rest[n] + details))
    if len(rest) % 2:
        lines.append(b"PARTIAL " + shown(rest[-1]))
    return b"".join(line + b"\n" for line in lines)


def main():
    parser = argparse.ArgumentParser(description="Unscrambles the launcher's binary trace file.")
    parser.add_argument("--events", action="store_true", help="one line per event, headers marked")
    parser.add_argument("tracefile")
    parser.add_argument("outfile", nargs="?")
    args = parser.parse_args()
    try:
        with open(args.tracefile, "rb") as f:
            texts = records(f.read())
    except Refused as refused:
        print("tracedecode: %s: %s" % (args.tracefile, refused), file=sys.stderr)
        return REFUSED
    except OSError as failed:
        print("tracedecode: %s" % failed, file=sys.stderr)
        return 1
    output = events(texts) if args.events else b"".join(texts)
    if args.outfile:
        with open(args.outfile, "wb") as f:
            f.write(output)
    else:
        sys.stdout.buffer.write(output)
        sys.stdout.buffer.flush()
    return 0


if __name__ == "__main__":
    sys.exit(main())
