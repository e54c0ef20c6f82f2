#!/usr/bin/env python3
"""tools/setup_package.py: the package it lays out, the record lines it reads, and, under
tools/session.sh, the sample engine reading the control file it writes.

    python3 tests/tools/test_setup_package.py [--bin BUILD/bin] [--wine-run tools/wine-run]
"""
import configparser
import contextlib
import io
import os
import struct
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path.insert(0, os.path.join(ROOT, "tools"))
import setup_package  # noqa: E402

BIN = None
WINE_RUN = None


def read_ini(path, encoding):
    parser = configparser.ConfigParser(interpolation=None)
    parser.optionxform = str
    with open(path, "rb") as f:
        data = f.read()
    parser.read_string(data.decode(encoding))
    return parser, data


class Package(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.TemporaryDirectory()
        self.bin = os.path.join(self.work.name, "bin")
        os.makedirs(self.bin)
        for name, content in (("RURavur.dll", b"engine"), ("RURavur_noexport.dll", b"noexport")):
            with open(os.path.join(self.bin, name), "wb") as f:
                f.write(content)
        self.out = os.path.join(self.work.name, "package folder")

    def tearDown(self):
        self.work.cleanup()

    def cli(self, *args, bin_folder=None):
        with contextlib.redirect_stdout(io.StringIO()), contextlib.redirect_stderr(io.StringIO()):
            return setup_package.main(["--out", self.out, "--bin", bin_folder or self.bin, *args])

    def test_setup_ini_defaults_and_overrides(self):
        self.assertEqual(0, self.cli("--language", "0x0409", "--language", "1031", "--splash-time", "4",
                                     "--startup", "ScriptDriven=4", "--startup", "splashtime=2",
                                     "--languages", "EnableLangDlg=Y"))
        ini, data = read_ini(os.path.join(self.out, "setup.ini"), "utf-8-sig")
        self.assertTrue(data.startswith(b"\xef\xbb\xbf"))
        self.assertIn(b"\r\n", data)
        self.assertEqual({"Product": "Corvane Sample", "ProductCode": setup_package.DEFAULT_PRODUCT_CODE,
                          "CompanyName": "Corvane", "SplashTime": "2", "ScriptDriven": "4"}, dict(ini["Startup"]))
        self.assertEqual({"Default": "0x0409", "Supported": "0x0409,0x0407", "EnableLangDlg": "Y"},
                         dict(ini["Languages"]))
        self.assertEqual(["0x0407.ini", "0x0409.ini", "RURavur.dll", "setup.ini"], sorted(os.listdir(self.out)))

    def test_language_files_in_each_encoding(self):
        for encoding, decode, mark in (("utf-8", "utf-8-sig", b"\xef\xbb\xbf"), ("utf-16", "utf-16", b"\xff\xfe"),
                                       ("ansi", "cp1252", b"[")):
            with self.subTest(encoding):
                self.assertEqual(0, self.cli("--encoding", encoding, "--language", "0x0407", "--language", "0x0409",
                                             "--string", "1834=&Weiter >", "--string", "0x0409:1834=&Next >",
                                             "--language-name", "0x0409=Englisch", "--font-name", "Arial",
                                             "--font-size", "9"))
                german, data = read_ini(os.path.join(self.out, "0x0407.ini"), decode)
                self.assertTrue(data.startswith(mark))
                self.assertEqual({"FontName": "Arial", "FontSize": "9"}, dict(german["Properties"]))
                self.assertEqual({"1834": "&Weiter >"}, dict(german["0x0407"]))
                self.assertEqual({"0x0409": "Englisch"}, dict(german["Languages"]))
                english, _ = read_ini(os.path.join(self.out, "0x0409.ini"), decode)
                self.assertEqual({"1834": "&Next >"}, dict(english["0x0409"]))
                self.assertNotIn("Languages", english)

    def test_splash_bitmap(self):
        for name, args, where, width, height in (
                ("default size", ["--splash"], "setup.bmp", 320, 200),
                ("odd width pads its rows", ["--splash", "3x2"], "setup.bmp", 3, 2),
                ("language folder", ["--splash", "5x4", "--splash-language", "0x0407"],
                 os.path.join("setupdir", "0407", "setup.bmp"), 5, 4)):
            with self.subTest(name):
                self.assertEqual(0, self.cli(*args))
                with open(os.path.join(self.out, where), "rb") as f:
                    data = f.read()
                stride = (width * 3 + 3) & ~3
                self.assertEqual(b"BM", data[:2])
                size, _, _, offset = struct.unpack("<IHHI", data[2:14])
                self.assertEqual((len(data), 54, 54 + stride * height), (size, offset, len(data)))
                header = struct.unpack("<IiiHHIIiiII", data[14:54])
                self.assertEqual((40, width, height, 1, 24, 0, stride * height), header[:7])
                self.assertEqual(b"\xff\xff\xff", data[54:57])  # the frame's corner

    def test_engine_and_control_file(self):
        self.assertEqual(0, self.cli("--engine", "noexport", "--result", "0x80042000", "--fail", "Run",
                                     "--fail-code", "-5011", "--log-file", "C:\\Logs\\Prüfung.log", "--hold",
                                     "--progress", "4", "--process"))
        with open(os.path.join(self.out, "RURavur.dll"), "rb") as f:
            self.assertEqual(b"noexport", f.read())
        control, data = read_ini(os.path.join(self.out, "RURavur.ini"), "utf-16")
        self.assertTrue(data.startswith(b"\xff\xfe"))
        self.assertEqual({"Result": "0x80042000", "Fail": "Run", "FailCode": "-5011",
                          "LogFile": "C:\\Logs\\Prüfung.log", "Hold": "1", "Progress": "4", "Process": "1"},
                         dict(control["Engine"]))

    def test_no_control_file_unless_asked(self):
        for args, present in ((["--engine", "none"], False), (["--engine", "none", "--control"], True)):
            with self.subTest(args):
                if os.path.exists(self.out):
                    for name in os.listdir(self.out):
                        os.remove(os.path.join(self.out, name))
                self.assertEqual(0, self.cli(*args))
                self.assertEqual(present, os.path.exists(os.path.join(self.out, "RURavur.ini")))
                self.assertFalse(os.path.exists(os.path.join(self.out, "RURavur.dll")))

    def test_refusals(self):
        with self.assertRaises(ValueError):
            setup_package.write_control(self.work.name, fail="Reboot")
        with self.assertRaises(ValueError):
            setup_package.write_setup_ini(self.work.name, product="two\nlines")
        self.assertEqual(1, self.cli(bin_folder=os.path.join(self.work.name, "nothing")))


class Record(unittest.TestCase):
    def test_lines(self):
        rows = (
            ("InstallEngineTypelib no_engine=1", "InstallEngineTypelib", {"no_engine": "1"}),
            ("DllGetClassObject", "DllGetClassObject", {}),
            ("Attach media=C:\\a b\\ disk1=C:\\x media=y\\", "Attach", {"media": "C:\\a b\\", "disk1": "C:\\x media=y\\"}),
            ("Process command=\"C:\\d 1\\setup.exe\" -s -media_path:\"C:\\m\\\"", "Process",
             {"command": "\"C:\\d 1\\setup.exe\" -s -media_path:\"C:\\m\\\""}),
            ("ReadHeaderFiles url=", "ReadHeaderFiles", {"url": ""}),
            ("SetProperty SETUPEXEDIR=C:\\m=n", "SetProperty", {"name": "SETUPEXEDIR", "value": "C:\\m=n"}),
            ("SetCommandLine command= -sel_lang0409 -x \"a b\" ini=C:\\d 1\\setup.ini", "SetCommandLine",
             {"command": " -sel_lang0409 -x \"a b\"", "ini": "C:\\d 1\\setup.ini"}),
            ("Run wizard=0", "Run", {"wizard": "0"}),
            ("GetResult -5001", "GetResult", {"value": -5001}),
            ("Fail Run 0x80042000", "Fail", {"step": "Run", "code": 0x80042000}),
            ("Progress stopped 0x80004004", "Progress", {"code": 0x80004004}),
            ("Stop", "Stop", {}),
        )
        for line, name, fields in rows:
            with self.subTest(line):
                call = setup_package.parse_call(line)
                self.assertEqual((name, fields, line), (call.name, call.fields, call.line))

    def test_a_line_without_its_fields_is_refused(self):
        for line in ("Attach media=C:\\", "SetCommandLine ini=x", "Run"):
            with self.subTest(line), self.assertRaises(ValueError):
                setup_package.parse_call(line)

    def test_record_file_and_release(self):
        with tempfile.TemporaryDirectory() as folder:
            self.assertEqual([], setup_package.read_calls(folder))
            with open(os.path.join(folder, "RURavur.calls"), "wb") as f:
                f.write("SetProperty Name=Grüße\nFinish\n".encode("utf-8"))
            self.assertEqual([("SetProperty", {"name": "Name", "value": "Grüße"}), ("Finish", {})],
                             [(c.name, c.fields) for c in setup_package.read_calls(folder)])
            self.assertTrue(os.path.exists(setup_package.release(folder)))


@unittest.skipUnless(os.environ.get("TAVRIN_TESTENV"), "the engine runs under tools/session.sh")
class EngineReadsThePackage(unittest.TestCase):
    def test_control_file_and_record(self):
        for name, control, exit_code, expected in (
                ("the step fails", {"fail": "InstallEngineTypelib"}, 1,
                 [("InstallEngineTypelib", {"no_engine": "1"}), ("Fail", {"step": "InstallEngineTypelib", "code": 0}),
                  ("RemoveEngineTypelib", {})]),
                ("no step fails", {"result": 3}, 0,
                 [("InstallEngineTypelib", {"no_engine": "1"}), ("RemoveEngineTypelib", {})])):
            with self.subTest(name), tempfile.TemporaryDirectory() as work:
                folder = os.path.join(work, "a package")
                setup_package.make_package(folder, BIN, control=control)
                dll = "Z:" + os.path.join(os.path.abspath(folder), "RURavur.dll").replace("/", "\\")
                done = subprocess.run([WINE_RUN, os.path.join(BIN, "sample_engine_host.exe"), dll],
                                      stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
                self.assertEqual(exit_code, done.returncode, done.stderr)
                self.assertEqual(expected, [(c.name, c.fields) for c in setup_package.read_calls(folder)])


if __name__ == "__main__":
    args = sys.argv[1:]
    while args and args[0] in ("--bin", "--wine-run") and len(args) > 1:
        if args[0] == "--bin":
            BIN = args[1]
        else:
            WINE_RUN = args[1]
        args = args[2:]
    BIN = BIN or setup_package.DEFAULT_BIN
    WINE_RUN = WINE_RUN or os.path.join(ROOT, "tools", "wine-run")
    unittest.main(argv=[sys.argv[0], *args])
