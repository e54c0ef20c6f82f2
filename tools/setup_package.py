#!/usr/bin/env python3
"""Lays out a sample installation package in a folder, for setup's tests and the demo.

    setup_package.py --out FOLDER [--bin BIN] [options]

What goes into FOLDER:
  setup.ini        [Startup] and [Languages] (below)
  0xLLLL.ini       one language file per offered language: [Properties] FontName, FontSize;
                   a section named like the file with the texts given by --string; and
                   [Languages] with the display names given by --language-name
  setup.bmp        with --splash: a 24-bit bitmap drawn here (in setupdir\\LLLL\\ with
                   --splash-language)
  RURavur.dll      the sample engine, copied from BIN (default: the build's bin folder
                   beside this file's repository, build/bin); --engine noexport copies
                   RURavur_noexport.dll under that name, --engine none copies nothing
  RURavur.ini      the engine's control file, when any engine option is given or --control

setup.ini options:
  --product TEXT          [Startup] Product (default "Corvane Sample")
  --product-code GUID     [Startup] ProductCode (default a fixed sample GUID)
  --company TEXT          [Startup] CompanyName (default "Corvane")
  --company-url URL       [Startup] CompanyURL (default none)
  --splash-time N         [Startup] SplashTime in seconds (default 0: tests do not wait)
  --startup KEY=VALUE     any further [Startup] key (ScriptDriven, AllUsers, LauncherName,
                          cmdline, ErrorReportURL, InstallGUID, Skin, ...); repeatable,
                          overrides the keys above
  --language 0xLLLL       an offered language (repeatable; default 0x0409); the first is
                          [Languages] Default, all of them Supported, comma-separated
  --languages KEY=VALUE   any [Languages] key (Default, Supported, EnableLangDlg,
                          RequireExactLangMatch, RTLLangs); repeatable, overrides the above
  --encoding E            setup.ini and the language files: utf-8 (with byte-order mark,
                          the default), utf-16 (little-endian, with mark) or ansi (cp1252)

Language file options:
  --string [0xLLLL:]ID=TEXT   a text of a language file (default language: the first)
  --language-name [0xLLLL:]0xMMMM=NAME
                              display name of language MMMM in LLLL's file ([Languages])
  --font-name NAME, --font-size N   [Properties] of every language file (Tahoma, 8)

Splash options:
  --splash [WxH]          write setup.bmp, default 320x200
  --splash-language 0xLLLL   put it in setupdir\\LLLL\\ (four hexadecimal digits)

Engine options (the control file's [Engine] keys, tools/sample_engine/SampleEngine.cpp):
  --result N              Result: what GetResult answers (decimal or 0x hex)
  --fail STEP             Fail: the step that fails (InstallEngineTypelib, DllGetClassObject,
                          Attach, ReadHeaderFiles, OpenCabinet, SetSupportFolder, SetProperty,
                          SetCommandLine, Initialize, Run, Finish)
  --fail-code H           FailCode: what the failing step answers (default 0x80004005)
  --log-file PATH         LogFile: the log file SetCommandLine answers
  --hold                  Hold=1: Run waits for RURavur.release in the control file's folder
  --progress N            Progress=N: Run reports N x 1000 bytes to the launcher
  --process               Process=1: Attach also records the process's command line
  --control               write the control file even without engine options

As a module: make_package() does all of the above; write_setup_ini(),
write_language_file(), bmp_bytes(), write_splash(), copy_engine() and write_control() one
part each; read_calls() parses the engine's record file "RURavur.calls" and release() lets a
held Run go on.
"""
import argparse
import os
import shutil
import struct
import sys
from dataclasses import dataclass, field

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_BIN = os.path.join(os.path.dirname(HERE), "build", "bin")
DEFAULT_PRODUCT_CODE = "{6F1D2A3B-4C5D-4E6F-8A9B-0C1D2E3F4A5B}"

STEPS = ("InstallEngineTypelib", "DllGetClassObject", "Attach", "ReadHeaderFiles", "OpenCabinet",
         "SetSupportFolder", "SetProperty", "SetCommandLine", "Initialize", "Run", "Finish")
ENGINE_FILES = {"RURavur": "RURavur.dll", "noexport": "RURavur_noexport.dll"}
CONTROL_NAME = "RURavur.ini"
RECORD_NAME = "RURavur.calls"
RELEASE_NAME = "RURavur.release"

# The fields of the record's lines, in their order on the line.
RECORD_FIELDS = {
    "InstallEngineTypelib": ("no_engine",),
    "Attach": ("media", "disk1"),
    "Process": ("command",),
    "ReadHeaderFiles": ("url",),
    "OpenCabinet": ("media",),
    "SetSupportFolder": ("folder",),
    "SetCommandLine": ("command", "ini"),
    "Initialize": ("wizard",),
    "Run": ("wizard",),
}


def language_id(text):
    """A language identifier from "0x0409", "409" taken as hex only after 0x, or "1033"."""
    text = str(text).strip()
    return int(text, 16) if text.lower().startswith("0x") else int(text)


def language_name(lang):
    return "0x%04x" % lang


def encode_ini(text, encoding):
    text = text.replace("\r\n", "\n").replace("\n", "\r\n")
    if encoding == "utf-8":
        return b"\xef\xbb\xbf" + text.encode("utf-8")
    if encoding == "utf-16":
        return b"\xff\xfe" + text.encode("utf-16-le")
    if encoding == "ansi":
        return text.encode("cp1252")
    raise ValueError("unknown encoding %r" % encoding)


def ini_text(sections):
    """INI text of [(section, [(key, value), ...]), ...]; a value never holds a line break."""
    lines = []
    for name, entries in sections:
        lines.append("[%s]" % name)
        for key, value in entries:
            value = str(value)
            if "\n" in value or "\r" in value:
                raise ValueError("a line break in the value of %s" % key)
            lines.append("%s=%s" % (key, value))
        lines.append("")
    return "\n".join(lines)


def write_ini(path, sections, encoding):
    with open(path, "wb") as out:
        out.write(encode_ini(ini_text(sections), encoding))
    return path


def merged(defaults, overrides):
    """Ordered (key, value) pairs: the defaults, each replaced by an override of the same key
    (keys compare without regard to case), then the further overrides."""
    out = [[k, v] for k, v in defaults]
    for key, value in overrides:
        for entry in out:
            if entry[0].lower() == key.lower():
                entry[1] = value
                break
        else:
            out.append([key, value])
    return [(k, v) for k, v in out if v is not None]


def write_setup_ini(folder, product="Corvane Sample", product_code=DEFAULT_PRODUCT_CODE, company="Corvane",
                    company_url=None, splash_time=0, languages=(0x0409,), startup=(), language_keys=(),
                    encoding="utf-8"):
    """setup.ini; `startup` and `language_keys` are further (key, value) pairs."""
    startup_entries = merged([("Product", product), ("ProductCode", product_code), ("CompanyName", company),
                              ("CompanyURL", company_url), ("SplashTime", splash_time)], startup)
    language_entries = merged([("Default", language_name(languages[0])),
                               ("Supported", ",".join(language_name(l) for l in languages))], language_keys)
    return write_ini(os.path.join(folder, "setup.ini"),
                     [("Startup", startup_entries), ("Languages", language_entries)], encoding)


def write_language_file(folder, lang, strings=None, names=None, font_name="Tahoma", font_size=8, encoding="utf-8"):
    """0xLLLL.ini: `strings` maps text ids to texts, `names` language ids to display names."""
    name = language_name(lang)
    sections = [("Properties", [("FontName", font_name), ("FontSize", font_size)]),
                (name, [("%d" % k, v) for k, v in sorted((strings or {}).items())])]
    if names:
        sections.append(("Languages", [(language_name(k), v) for k, v in sorted(names.items())]))
    return write_ini(os.path.join(folder, name + ".ini"), sections, encoding)


def bmp_bytes(width, height):
    """A 24-bit bottom-up bitmap: a blue-to-teal gradient in a white frame, with a dark
    diagonal, so that a screenshot shows which way up and how large it is."""
    if width <= 0 or height <= 0:
        raise ValueError("a bitmap needs a size")
    stride = (width * 3 + 3) & ~3
    rows = bytearray()
    for y in range(height - 1, -1, -1):  # the file holds the bottom row first
        row = bytearray()
        for x in range(width):
            if x < 2 or y < 2 or x >= width - 2 or y >= height - 2:
                blue, green, red = 255, 255, 255
            elif abs(x * height - y * width) < max(width, height):
                blue, green, red = 40, 20, 20
            else:
                blue, green, red = 160 + 95 * x // width, 60 + 140 * y // height, 30
            row += bytes((blue, green, red))
        rows += row + b"\0" * (stride - len(row))
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
    offset = 14 + len(header)
    return b"BM" + struct.pack("<IHHI", offset + len(rows), 0, 0, offset) + header + bytes(rows)


def write_splash(folder, width=320, height=200, lang=None):
    """setup.bmp beside setup.ini, or in setupdir\\LLLL\\ for a language."""
    if lang is not None:
        folder = os.path.join(folder, "setupdir", "%04x" % lang)
        os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, "setup.bmp")
    with open(path, "wb") as out:
        out.write(bmp_bytes(width, height))
    return path


def copy_engine(bin_folder, folder, variant="RURavur"):
    """The sample engine from the build as RURavur.dll; `variant` "noexport" is the build
    without InstallEngineTypelib."""
    source = os.path.join(bin_folder, ENGINE_FILES[variant])
    if not os.path.isfile(source):
        raise FileNotFoundError("no %s in %s: build the targets RURavur and RURavur_noexport" % (ENGINE_FILES[variant], bin_folder))
    target = os.path.join(folder, "RURavur.dll")
    shutil.copyfile(source, target)
    return target


def write_control(folder, result=None, fail=None, fail_code=None, log_file=None, hold=False, progress=None,
                  process=False):
    """RURavur.ini, in UTF-16 with byte-order mark: the engine reads it with
    GetPrivateProfileStringW, which reads text beyond the ANSI code page only from such a
    file."""
    if fail is not None and fail.lower() not in (s.lower() for s in STEPS):
        raise ValueError("no step %r; the steps: %s" % (fail, ", ".join(STEPS)))
    entries = [(k, v) for k, v in (("Result", result), ("Fail", fail), ("FailCode", fail_code),
                                   ("LogFile", log_file), ("Hold", 1 if hold else None),
                                   ("Progress", progress), ("Process", 1 if process else None)) if v is not None]
    return write_ini(os.path.join(folder, CONTROL_NAME), [("Engine", entries)], "utf-16")


@dataclass
class Call:
    """One line of the engine's record: the call's name and its fields."""
    name: str
    fields: dict = field(default_factory=dict)
    line: str = ""


def parse_call(line):
    """A record line as a Call. SetProperty gives the fields name and value, GetResult value
    (an int), Fail step and code (an int); the others the fields of RECORD_FIELDS."""
    name, _, rest = line.partition(" ")
    fields = {}
    if name in RECORD_FIELDS:
        keys = RECORD_FIELDS[name]
        # A value runs up to the next field's " name=": cut from the end, where paths stand.
        for key in reversed(keys[1:]):
            rest, found, value = rest.rpartition(" %s=" % key)
            if not found:
                raise ValueError("no field %s in %r" % (key, line))
            fields[key] = value
        if not rest.startswith(keys[0] + "="):
            raise ValueError("no field %s in %r" % (keys[0], line))
        fields[keys[0]] = rest[len(keys[0]) + 1:]
        fields = {k: fields[k] for k in keys}
    elif name == "SetProperty":
        key, _, value = rest.partition("=")
        fields = {"name": key, "value": value}
    elif name == "GetResult":
        fields = {"value": int(rest)}
    elif name == "Fail":
        step, _, code = rest.partition(" ")
        fields = {"step": step, "code": int(code, 16)}
    elif name == "Progress":
        fields = {"code": int(rest.rpartition(" ")[2], 16)}
    return Call(name, fields, line)


def read_calls(folder):
    """The engine's record in `folder` as a list of Call; empty when there is none."""
    path = os.path.join(folder, RECORD_NAME)
    if not os.path.exists(path):
        return []
    with open(path, "r", encoding="utf-8", newline="\n") as record:
        return [parse_call(line.rstrip("\n")) for line in record if line.strip("\n")]


def release(folder):
    """Lets a held Run (--hold) go on."""
    path = os.path.join(folder, RELEASE_NAME)
    with open(path, "wb"):
        pass
    return path


def make_package(folder, bin_folder=DEFAULT_BIN, engine="RURavur", product="Corvane Sample",
                 product_code=DEFAULT_PRODUCT_CODE, company="Corvane", company_url=None, splash_time=0,
                 startup=(), languages=(0x0409,), language_keys=(), strings=None, language_names=None,
                 font_name="Tahoma", font_size=8, splash=None, splash_language=None, control=None,
                 encoding="utf-8"):
    """The whole package in `folder` (made when missing). `strings` and `language_names` map
    a language id to its {id: text} and {language: name}; `splash` is (width, height) or
    None; `control` the keyword arguments of write_control(), or None for no control file;
    `engine` "RURavur", "noexport" or None. Returns the paths written."""
    os.makedirs(folder, exist_ok=True)
    languages = tuple(languages) or (0x0409,)
    written = [write_setup_ini(folder, product, product_code, company, company_url, splash_time, languages,
                               startup, language_keys, encoding)]
    for lang in languages:
        written.append(write_language_file(folder, lang, (strings or {}).get(lang), (language_names or {}).get(lang),
                                           font_name, font_size, encoding))
    if splash:
        written.append(write_splash(folder, splash[0], splash[1], splash_language))
    if engine:
        written.append(copy_engine(bin_folder, folder, engine))
    if control is not None:
        written.append(write_control(folder, **control))
    return written


def key_value(text):
    key, sep, value = text.partition("=")
    if not sep or not key:
        raise argparse.ArgumentTypeError("KEY=VALUE expected, not %r" % text)
    return key, value


def per_language(text):
    """[0xLLLL:]KEY=VALUE as (language or None, key, value)."""
    lang = None
    head, sep, tail = text.partition(":")
    if sep and "=" not in head:
        lang, text = language_id(head), tail
    key, value = key_value(text)
    return lang, key, value


def size(text):
    width, sep, height = text.lower().partition("x")
    try:
        return int(width), int(height)
    except ValueError:
        raise argparse.ArgumentTypeError("WIDTHxHEIGHT expected, not %r" % text) from None


def main(argv=None):
    p = argparse.ArgumentParser(description="Lays out a sample installation package for setup.")
    p.add_argument("--out", required=True, help="the package's folder (made when missing)")
    p.add_argument("--bin", default=DEFAULT_BIN, help="the build's bin folder with RURavur.dll")
    p.add_argument("--engine", choices=("RURavur", "noexport", "none"), default="RURavur")
    p.add_argument("--product", default="Corvane Sample")
    p.add_argument("--product-code", default=DEFAULT_PRODUCT_CODE)
    p.add_argument("--company", default="Corvane")
    p.add_argument("--company-url")
    p.add_argument("--splash-time", type=int, default=0)
    p.add_argument("--startup", type=key_value, action="append", default=[])
    p.add_argument("--language", type=language_id, action="append", default=[])
    p.add_argument("--languages", type=key_value, action="append", default=[])
    p.add_argument("--string", type=per_language, action="append", default=[])
    p.add_argument("--language-name", type=per_language, action="append", default=[])
    p.add_argument("--font-name", default="Tahoma")
    p.add_argument("--font-size", type=int, default=8)
    p.add_argument("--encoding", choices=("utf-8", "utf-16", "ansi"), default="utf-8")
    p.add_argument("--splash", type=size, nargs="?", const=(320, 200))
    p.add_argument("--splash-language", type=language_id)
    p.add_argument("--result")
    p.add_argument("--fail", choices=STEPS)
    p.add_argument("--fail-code")
    p.add_argument("--log-file")
    p.add_argument("--hold", action="store_true")
    p.add_argument("--progress", type=int)
    p.add_argument("--process", action="store_true")
    p.add_argument("--control", action="store_true")
    a = p.parse_args(argv)

    languages = tuple(a.language) or (0x0409,)
    strings, names = {}, {}
    for lang, key, value in a.string:
        strings.setdefault(languages[0] if lang is None else lang, {})[int(key)] = value
    for lang, key, value in a.language_name:
        names.setdefault(languages[0] if lang is None else lang, {})[language_id(key)] = value
    control = {k: v for k, v in (("result", a.result), ("fail", a.fail), ("fail_code", a.fail_code),
                                 ("log_file", a.log_file), ("progress", a.progress)) if v is not None}
    if a.hold:
        control["hold"] = True
    if a.process:
        control["process"] = True
    try:
        written = make_package(a.out, a.bin, None if a.engine == "none" else a.engine, a.product, a.product_code,
                               a.company, a.company_url, a.splash_time, a.startup, languages, a.languages, strings,
                               names, a.font_name, a.font_size, a.splash, a.splash_language,
                               control if control or a.control else None, a.encoding)
    except (OSError, ValueError) as e:
        print("setup_package: %s" % e, file=sys.stderr)
        return 1
    for path in written:
        print(path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
