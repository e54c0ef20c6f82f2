#!/usr/bin/env python3
"""setup.exe from its command line to its exit code, on packages the cases lay out, under
tools/session.sh. One ctest per case (tests/setup/CMakeLists.txt):

    setup_e2e.py --list
    setup_e2e.py --bin BUILD/bin --work FOLDER [--artifacts FOLDER] --case NAME

--list prints one line per case: its name, the prefix it runs in, then the resource locks it
holds. While HKCU "REdedov" exists, every setup.exe that starts writes its trace into the file
the key names, whoever made the key, and the trace tests make it in the session's prefix. So
the cases that read the trace run in the session's prefix ("session") and hold REdedov, and the
others run in the session's second prefix ("second", tools/test-env), where no test makes the
key, beside each other. Cases that show windows hold that prefix's "desktop", the one that
records pending file operations its "pending-operations" (the second prefix's locks are
prefixed "comma-").

Each case lays out its package in FOLDER/NAME (made afresh), with a product code and a product
name of its own (the single-instance mutex and the window titles are named by them), runs
setup.exe through tools/wine-run and bin/runner.exe --print with a bound, and checks the
whole exit code, the sample engine's record (tools/sample_engine/SampleEngine.cpp), the trace
(tools/tracedecode.py), the result file and the windows (bin/wintool.exe). Screenshots go to
--artifacts as setup_e2e_<case>.png.
"""
import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import time
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
TOOLS = os.path.join(ROOT, "tools")
sys.path.insert(0, TOOLS)
import mkpackage  # noqa: E402
import setup_package  # noqa: E402
import tracedecode  # noqa: E402

RUN_BOUND = 60        # seconds for one run of setup.exe or a tool
WINDOW_BOUND = 30     # seconds for a window to show
CLEANUP_BOUND = 30    # seconds for the removal of a temporary copy (it retries for 10 s)
CASE_NAMESPACE = uuid.UUID("7d3f1c52-9a4b-4e61-b0c8-2f5e6a7d8c90")

CANCELLED = -2147213312  # 0x80042000
SECOND_INSTANCE_TEXT = ("Another instance of this setup is already running. Please wait for the other instance "
                        "to finish and then try again.")
TRACE_KEY = "HKCU\\REdedov"
PENDING_KEY = "HKLM\\Software\\CorvanePendingOperation"

# Options that no row of the launcher's option table names: they reach the engine as written.
PASS_THROUGH = ["-foo=1", "/Bar:two", "-Custom"]
README = b"Read me: this file travels LZ-compressed in the package.\r\n" * 20


class CaseFailed(Exception):
    pass


def hresult(code):
    """A failure code as the trace writes it, "0x%08lx"."""
    return "0x%08x" % (code & 0xFFFFFFFF)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def linux_path(path):
    """A Windows path of the prefix as the Linux path it stands for."""
    drive, rest = path[0].lower(), path[2:].replace("\\", "/").strip("/")
    if path[1:2] != ":":
        raise ValueError("no drive path: %r" % path)
    if drive == "z":
        return "/" + rest
    return os.path.join(os.path.realpath(os.path.join(os.environ["WINEPREFIX"], "dosdevices", drive + ":")), rest)


def read_ini(path):
    """{section: {key: value}} of an INI file in UTF-16 or UTF-8 (with or without mark) or ANSI."""
    with open(path, "rb") as f:
        data = f.read()
    if data.startswith(b"\xff\xfe"):
        text = data[2:].decode("utf-16-le")
    elif data.startswith(b"\xef\xbb\xbf"):
        text = data[3:].decode("utf-8")
    else:
        try:
            text = data.decode("utf-8")
        except UnicodeDecodeError:
            text = data.decode("cp1252")
    sections, current = {}, None
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("[") and line.endswith("]"):
            current = sections.setdefault(line[1:-1], {})
        elif current is not None and "=" in line:
            key, _, value = line.partition("=")
            current[key.strip()] = value.strip()
    return sections


def pe_machine(path):
    with open(path, "rb") as f:
        head = f.read(4096)
    pe = struct.unpack_from("<I", head, 0x3C)[0]
    return struct.unpack_from("<H", head, pe + 4)[0]


class Case:
    """What one case works with: its folder, the build's programs, and the checks it has made."""

    def __init__(self, name, bin_folder, work, artifacts, traced):
        self.name = name
        self.traced = traced
        self.bin = bin_folder
        self.folder = os.path.join(work, name)
        self.artifacts = artifacts
        self.product = "E2E %s" % name
        self.product_code = "{%s}" % str(uuid.uuid5(CASE_NAMESPACE, name)).upper()
        self.title = "%s - Corvane Wizard" % self.product
        self.failures = []
        self.background = []
        self.wine_run = os.path.join(TOOLS, "wine-run")
        shutil.rmtree(self.folder, ignore_errors=True)
        os.makedirs(self.folder)

    # ---- checks

    def check(self, condition, message):
        if not condition:
            self.failures.append(message)
        return condition

    def equal(self, got, wanted, what):
        return self.check(got == wanted, "%s:\n    got    %r\n    wanted %r" % (what, got, wanted))

    def require(self, condition, message):
        if not condition:
            self.failures.append(message)
            raise CaseFailed()

    # ---- packages

    def path(self, *parts):
        return os.path.join(self.folder, *parts)

    def package(self, folder="media", launcher=True, engine="RURavur", splash=None, startup=(), **control):
        """A package in the case's folder: setup.ini, the language file, the engine (or not),
        the control file with `control`'s keys, and setup.exe beside them."""
        media = self.path(folder)
        setup_package.make_package(media, self.bin, engine=engine, product=self.product,
                                   product_code=self.product_code, splash=splash, startup=startup,
                                   control=control)
        if launcher:
            shutil.copyfile(os.path.join(self.bin, "setup.exe"), os.path.join(media, "setup.exe"))
        return media

    def calls(self, folder):
        return setup_package.read_calls(folder)

    def names(self, folder):
        return [c.name for c in self.calls(folder)]

    def call(self, folder, name):
        """The first record line of that call; the case fails without one."""
        for c in self.calls(folder):
            if c.name == name:
                return c
        self.require(False, "the engine recorded no %s in %s: %r" % (name, folder, self.names(folder)))

    # ---- programs

    def environment(self, runner=True, overrides=None):
        env = dict(os.environ)
        env.pop("TAVRIN_RUNNER", None)
        if runner:
            env["TAVRIN_RUNNER"] = os.path.join(self.bin, "runner.exe")
        if overrides:
            env["WINEDLLOVERRIDES"] = ";".join(v for v in (env.get("WINEDLLOVERRIDES"), overrides) if v)
        return env

    def start(self, program, *args, overrides=None):
        """`program` (a Linux path) with `args` under the runner, in the background."""
        process = subprocess.Popen([self.wine_run, "--print", windows_path(program), *args],
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   env=self.environment(overrides=overrides))
        self.background.append(process)
        return process

    def finish(self, process, bound=RUN_BOUND):
        """The whole exit code the program of `start` ended with."""
        try:
            out, err = process.communicate(timeout=bound)
        except subprocess.TimeoutExpired:
            self.require(False, "the run did not end within %d s" % bound)
        self.background.remove(process)
        found = re.search(rb"exit code: (-?\d+) \(0x[0-9a-f]{8}\)", out)
        self.require(found, "no exit code from the runner (status %d): %r %r" % (process.returncode, out, err))
        return int(found.group(1))

    def run(self, program, *args, overrides=None, bound=RUN_BOUND):
        return self.finish(self.start(program, *args, overrides=overrides), bound)

    def setup(self, media, *args, **kw):
        return self.run(os.path.join(media, "setup.exe"), *args, **kw)

    def wine(self, *args, bound=RUN_BOUND):
        """A Windows tool of the prefix or the build, without the runner: (status, stdout)."""
        done = subprocess.run([self.wine_run, *args], stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=bound, env=self.environment(runner=False))
        return done.returncode, done.stdout.decode("utf-8", "replace").replace("\r\n", "\n")

    def wintool(self, *args):
        return self.wine(os.path.join(self.bin, "wintool.exe"), *args)

    def children(self, title=None, bound=WINDOW_BOUND):
        """[(id, class, visible, text)] of the window's children once it shows."""
        status, out = self.wintool("children", title or self.title, str(bound * 1000))
        self.require(status == 0, "no window %r within %d s" % (title or self.title, bound))
        rows = []
        for line in out.split("\n"):
            if line:
                ident, cls, visible, text = line.split("\t", 3)
                text = re.sub(r"\\(.)", lambda m: {"r": "\r", "n": "\n", "t": "\t"}.get(m.group(1), m.group(1)), text)
                rows.append((int(ident), cls, visible == "1", text))
        return rows

    def top_level_windows(self):
        """[(pid, class, (x, y, width, height), title)] of the visible top-level windows."""
        _, out = self.wintool("list")
        rows = []
        for line in out.split("\n"):
            if line:
                pid, cls, rect, title = line.split("\t", 3)
                rows.append((int(pid), cls, tuple(int(v) for v in rect.split(",")), title))
        return rows

    def screenshot(self):
        if not self.artifacts:
            return None
        os.makedirs(self.artifacts, exist_ok=True)
        target = os.path.join(self.artifacts, "setup_e2e_%s.png" % self.name)
        done = subprocess.run(["import", "-window", "root", target], stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=RUN_BOUND)
        self.check(done.returncode == 0, "no screenshot: %r" % done.stderr)
        return target

    def wait_until(self, condition, what, bound=RUN_BOUND):
        """Polls `condition` until it holds, at most `bound` seconds."""
        end = time.monotonic() + bound
        while not condition():
            if time.monotonic() > end:
                self.require(False, "%s: not within %d s" % (what, bound))
            time.sleep(0.05)

    def reg(self, *args):
        return self.wine("reg", *args)

    def cleanup(self):
        for process in list(self.background):
            try:
                process.communicate(timeout=RUN_BOUND)
            except subprocess.TimeoutExpired:
                process.kill()
                process.communicate()


class Trace:
    """HKCU "REdedov" naming the case's trace file while the block runs; the events afterwards as
    (category, sub-category, details)."""

    def __init__(self, case):
        self.case = case
        self.file = case.path("trace.bin")
        self.events = []

    def __enter__(self):
        self.case.require(self.case.traced, "a case that reads the trace must say so (it runs in the session's prefix)")
        status, _ = self.case.reg("add", TRACE_KEY, "/v", "FileNamePath", "/d", windows_path(self.file), "/f")
        self.case.require(status == 0, "the trace key could not be made")
        return self

    def __exit__(self, *exc):
        self.case.reg("delete", TRACE_KEY, "/f")
        if os.path.exists(self.file):
            with open(self.file, "rb") as f:
                texts = tracedecode.records(f.read())
            for line in tracedecode.events(texts).decode("latin-1").split("\n"):
                if line and not line.startswith(("HEADER ", "PARTIAL ")):
                    self.events.append(tuple(line.split("|", 2)))
        return False

    def named(self, category):
        return [details for cat, _, details in self.events if cat == category]

    def fields(self, category):
        """The details of each event of that category as a dict of its tab-separated NAME=VALUE."""
        return [dict(part.partition("=")[::2] for part in details.split("\t")) for details in self.named(category)]


# ---- what the cases check more than once

def result_file(case, path, code):
    """The result file of a failed silent run, with `code` in it."""
    if not case.check(os.path.exists(path), "no result file %s" % path):
        return {}
    ini = read_ini(path)
    case.equal(ini.get("Corvane Silent"), {"File": "Log File", "Version": "v7.00"}, "[Corvane Silent]")
    case.equal(ini.get("ResponseResult", {}).get("ResultCode"), str(code), "[ResponseResult] ResultCode")
    case.equal(ini.get("ExtendedError"), {"ErrorInfo": ""}, "[ExtendedError]")
    return ini


def first_failure(case, trace, line, code):
    """The run's first failure in the trace: at `line`, with `code`."""
    recorded = trace.fields("RecordFailure")
    case.equal([(r.get("File"), r.get("Line"), r.get("Code")) for r in recorded[:1]], [("setup", str(line), hresult(code))],
               "the first RecordFailure")


def unhandled(case, trace, error_number, code):
    case.equal([(r.get("ErrorCode"), r.get("Exception")) for r in trace.fields("UnhandledException")],
               [(str(error_number), hresult(code))], "the UnhandledException records")


def disk1_of(case, media):
    return case.call(media, "Attach").fields["disk1"]


def gone(path):
    return not os.path.lexists(path)


def relaunch_command(media_win, disk1_win, launcher_win, given):
    """The copy's arguments after its own path: the launcher's, then the folders and itself."""
    return "%s -media_path:\"%s\" -tempdisk1folder:\"%s\" -QV_OriginalLauncher:\"%s\"" % (
        given, media_win, disk1_win, launcher_win)


def remove_folder(win_folder):
    shutil.rmtree(linux_path(win_folder), ignore_errors=True)


# ---- the cases

CASES = {}


def case(*locks, name=None, trace=False):
    """Registers a case; `trace`: it reads the trace, so it runs in the session's prefix."""
    def register(function):
        CASES[name or function.__name__] = (function, locks, trace)
        return function
    return register


def listed(name):
    """The --list line of a case."""
    _, locks, trace = CASES[name]
    if trace:
        return " ".join((name, "session", "REdedov") + locks)
    return " ".join((name, "second") + tuple("comma-" + lock for lock in locks))


def engine_result(result, expected):
    """A successful run returns the engine's Result; the engine is handed the language option and
    the pass-through arguments, and the setup.ini of the Disk1 folder."""
    def run(c):
        media = c.package(result=result)
        c.equal(c.setup(media, "-s", *PASS_THROUGH), expected, "exit code")
        disk1 = disk1_of(c, media)
        launcher = windows_path(os.path.join(media, "setup.exe"))
        command = c.call(media, "SetCommandLine").fields
        c.equal(command["command"], " -sel_lang0409 %s -QV_OriginalLauncher:\"%s\"" % (" ".join(PASS_THROUGH), launcher),
                "the engine's command line")
        c.equal(command["ini"], disk1 + "setup.ini", "the engine's setup.ini")
        c.check(disk1.lower() != (windows_path(media) + "\\").lower(), "the Disk1 folder is the media folder")
        c.equal(c.call(media, "GetResult").fields["value"], expected, "what GetResult answered")
    return run


for _name, _result, _expected in (("result_positive", "1234", 1234),
                                  ("result_access_denied", "0x80070005", -2147024891),
                                  ("result_negative", "-7", -7)):
    case(name=_name)(engine_result(_result, _expected))


@case(trace=True)
def engine_not_loadable(c):
    """A file that is no DLL named RURavur.dll: -5003 at line 236, the exit code -5001."""
    media = c.package(engine=None, result="1")
    with open(os.path.join(media, "RURavur.dll"), "wb") as f:
        f.write(b"This is no library.\r\n" * 64)
    with Trace(c) as trace:
        code = c.setup(media, "-s")
    c.equal(code, -5001, "exit code")
    first_failure(c, trace, 236, -5003)
    unhandled(c, trace, -5001, -5003)
    c.equal(c.calls(media), [], "engine calls")
    result_file(c, os.path.join(media, "setup.log"), -5001)


@case("desktop")
def engine_not_loadable_dialog(c):
    """Shown, the same failure opens the error dialog, whose report names the place."""
    media = c.package(engine=None)
    with open(os.path.join(media, "RURavur.dll"), "wb") as f:
        f.write(b"MZ but nothing after it")
    process = c.start(os.path.join(media, "setup.exe"))
    try:
        texts = {ident: (visible, text) for ident, _, visible, text in c.children()}
        summary = texts.get(1101, (False, ""))[1]
        report = texts.get(1105, (True, ""))
        c.check("-5001 : 0xffffec75" in summary, "the summary names the error number and the code: %r" % summary)
        c.check(not report[0], "the report is hidden until asked for")
        c.check(report[1].startswith(">setup (236)\r\n"), "the report begins with the failure place: %r" % report[1])
        for piece in ("PAPP:%s\r\n" % c.product, "PVENDOR:Corvane\r\n", "PGUID:%s\r\n" % c.product_code,
                      "$7.00.0001", "\r\n@", "\r\nIE Version: "):
            c.check(piece in report[1], "the report holds %r: %r" % (piece, report[1]))
        details = texts.get(1102, (False, ""))[1]
        c.equal(details, "&Details >>", "the details button")
        c.wintool("click", c.title, details)
        c.wait_until(lambda: any(i == 1105 and v for i, _, v, _ in c.children()), "the report shown", WINDOW_BOUND)
        c.screenshot()
    finally:
        c.wintool("close", c.title)
    c.equal(c.finish(process), -5001, "exit code")
    c.check(not os.path.exists(os.path.join(media, "setup.log")), "a shown run wrote a result file")


@case(trace=True)
def engine_missing(c):
    """No engine where the relaunched copy must copy it from: the copy fails at line 232."""
    media = c.package(engine=None, result="1")
    with Trace(c) as trace:
        code = c.setup(media, "-s")
    c.equal(code, -5001, "exit code")
    first_failure(c, trace, 232, 0x80070002)
    unhandled(c, trace, -5001, 0x80070002)
    result_file(c, os.path.join(media, "setup.log"), -5001)


@case(trace=True)
def engine_without_export(c):
    """An engine without InstallEngineTypelib fails the type-library step: -5003."""
    media = c.package(engine="noexport", result="1")
    with Trace(c) as trace:
        code = c.setup(media, "-s")
    c.equal(code, -5003, "exit code")
    first_failure(c, trace, 508, 0x8007007F)
    c.equal(c.names(media), ["RemoveEngineTypelib"], "engine calls")
    result_file(c, os.path.join(media, "setup.log"), -5003)


# The step the engine fails, the launcher error number that ends the run, and whether the engine
# object (its sink and controller) existed by then.
FAILING_STEPS = (
    ("InstallEngineTypelib", -5003, False),
    ("DllGetClassObject", -5004, False),
    ("Attach", -5004, False),
    ("OpenCabinet", -5005, True),
    ("SetSupportFolder", -5006, True),
    ("SetProperty", -5006, True),
    ("SetCommandLine", -5008, True),
    ("Initialize", -5009, True),
    ("Run", -5011, True),
    ("Finish", -5012, True),
)


def failing_step(step, error_number, attached):
    def run(c):
        media = c.package(fail=step, result="1")
        c.equal(c.setup(media, "-s"), error_number, "exit code")
        result_file(c, os.path.join(media, "setup.log"), error_number)
        names = c.names(media)
        c.check(("Fail", step) in [(x.name, x.fields.get("step")) for x in c.calls(media)],
                "the engine did not fail %s: %r" % (step, names))
        c.equal([n for n in names if n in ("OnLauncherEnding", "Stop")], ["OnLauncherEnding", "Stop"] if attached else [],
                "the engine told of the end")
        c.check("GetResult" not in names, "a failed run asked for the engine's result")
    return run


for _step, _number, _attached in FAILING_STEPS:
    case(name="fail_" + _step)(failing_step(_step, _number, _attached))


def relaunch(folder_name, options, clone_wait):
    """A plain launcher continues from a copy of itself in the Disk1 folder, with the relaunch
    command line; with clone_wait it ends with the copy's code, else at once with 0."""
    def run(c):
        media = c.package(folder_name, result="4321", process=True)
        launcher = windows_path(os.path.join(media, "setup.exe"))
        code = c.setup(media, "-s", *options)
        if clone_wait:
            c.equal(code, 4321, "exit code")
        else:
            c.equal(code, 0, "exit code")
            c.wait_until(lambda: "RemoveEngineTypelib" in c.names(media), "the copy's end")
        disk1 = disk1_of(c, media)
        copy = disk1 + "setup.exe"
        given = " ".join(["-s", *options] + ([] if "-runfromtemp" in options else ["-no_selfdeleter", "-QV_temp"]))
        c.equal(c.call(media, "Process").fields["command"],
                "\"%s\" %s" % (copy, relaunch_command(windows_path(media) + "\\", disk1, launcher, given)),
                "the copy's command line")
        c.equal(c.call(media, "Attach").fields["media"], windows_path(media) + "\\", "the copy's media folder")
        c.check(disk1.lower().startswith(temp_folder(c)), "the Disk1 folder %s is no temporary folder" % disk1)
        properties = {p.fields["name"]: p.fields["value"] for p in c.calls(media) if p.name == "SetProperty"}
        c.equal(properties.get("Launcher"), launcher, "the Launcher property")
        c.wait_until(lambda: gone(linux_path(disk1)), "the Disk1 folder's removal", CLEANUP_BOUND)
    return run


def temp_folder(c):
    """The prefix's temporary folder, lower case, with its closing backslash."""
    _, out = c.wine("cmd", "/c", "echo", "%TEMP%")
    return out.strip().lower().rstrip("\\") + "\\"


for _name, _folder, _options, _wait in (
        ("relaunch", "media", ["-x1"], True),
        ("relaunch_blank_in_media_path", "media folder", [], True),
        ("relaunch_runfromtemp", "media", ["-runfromtemp"], False),
        ("relaunch_runfromtemp_clone_wait", "media", ["-runfromtemp", "-clone_wait"], True)):
    case(name=_name)(relaunch(_folder, _options, _wait))


@case()
def relaunch_copy_fails(c):
    """"-extract_all:" on a plain launcher names the folder the copy goes to; a folder of the
    launcher's name in the way makes the copy fail: -5017. (Not a read-only file: Wine, run as
    root, lets CopyFileW replace one.) -no_deleter spares the deletion its retries on the folder
    the case filled."""
    media = c.package(result="1")
    target = c.path("target")
    os.makedirs(os.path.join(target, "setup.exe"))
    code = c.setup(media, "-s", "-extract_all:" + windows_path(target), "-no_deleter")
    c.equal(code, -5017, "exit code")
    c.equal(c.calls(media), [], "engine calls")
    c.equal(sorted(os.listdir(target)), ["setup.exe", "setup.ini"], "what the target folder holds")


def second_instance(shown):
    """While the product's setup runs, a second one ends with 0: silent at once, shown after its
    message box."""
    def run(c):
        media = c.package(result="55", hold=True)
        first = c.start(os.path.join(media, "setup.exe"), "-s")
        try:
            c.wait_until(lambda: "Run" in c.names(media), "the first run's engine Run")
            before = c.names(media)
            if shown:
                second = c.start(os.path.join(media, "setup.exe"))
                try:
                    rows = c.children()
                    c.check(any(cls.lower() == "static" and text == SECOND_INSTANCE_TEXT for _, cls, _, text in rows),
                            "the message box's text: %r" % rows)
                finally:
                    c.wintool("close", c.title)
                c.equal(c.finish(second), 0, "the second's exit code")
            else:
                c.equal(c.setup(media, "-s"), 0, "the second's exit code")
            c.equal(c.names(media), before, "engine calls of the second")
        finally:
            setup_package.release(media)
        c.equal(c.finish(first), 55, "the first's exit code")
    return run


case("desktop", name="second_instance_shown")(second_instance(True))
case(name="second_instance_silent")(second_instance(False))


def cancel(options):
    """The engine's Run cancelled (0x80042000): that code, no report, no result file."""
    def run(c):
        media = c.package(fail="Run", fail_code="0x80042000", result="1")
        with Trace(c) as trace:
            code = c.setup(media, *options)
        c.equal(code, CANCELLED, "exit code")
        first_failure(c, trace, 454, 0x80042000)
        c.equal(trace.named("UnhandledException"), [], "UnhandledException records")
        c.check(not os.path.exists(os.path.join(media, "setup.log")), "a cancelled run wrote a result file")
        c.equal([n for n in c.names(media) if n in ("OnLauncherEnding", "Stop")], ["OnLauncherEnding", "Stop"],
                "the engine told of the end")
    return run


case("desktop", name="cancel_shown", trace=True)(cancel([]))
case(name="cancel_silent", trace=True)(cancel(["-s"]))


@case()
def result_file_keeps_other_sections(c):
    """The result file beside the media takes the failure and keeps what else it held."""
    media = c.package(fail="OpenCabinet")
    with open(os.path.join(media, "setup.log"), "wb") as f:
        f.write(b"[Earlier]\r\nNote=kept\r\n[ResponseResult]\r\nResultCode=0\r\n")
    c.equal(c.setup(media, "-s"), -5005, "exit code")
    ini = result_file(c, os.path.join(media, "setup.log"), -5005)
    c.equal(ini.get("Earlier"), {"Note": "kept"}, "the section already there")


@case()
def result_file_f2(c):
    """"-f2" with the path right after the name moves the result file."""
    media = c.package(fail="Finish")
    os.makedirs(c.path("results"))
    target = c.path("results", "run.log")
    c.equal(c.setup(media, "-s", "-f2" + windows_path(target)), -5012, "exit code")
    result_file(c, target, -5012)
    c.check(not os.path.exists(os.path.join(media, "setup.log")), "a result file beside the media too")


@case("pending-operations")
def reboot_replays_pending_operations(c):
    """"-reboot" replays the recorded file operations and runs the engine without the wizard."""
    media = c.package(result="9")
    source, target = c.path("pending source.txt"), c.path("pending target.txt")
    with open(source, "w") as f:
        f.write("moved after the restart\n")
    view = "/reg:32" if pe_machine(os.path.join(c.bin, "setup.exe")) == 0x14C else "/reg:64"
    c.reg("delete", PENDING_KEY, "/f", view)
    try:
        for value, kind, data in (("dest1", "REG_SZ", windows_path(target)), ("source1", "REG_SZ", windows_path(source)),
                                  ("Count", "REG_DWORD", "1")):
            status, _ = c.reg("add", PENDING_KEY, "/v", value, "/t", kind, "/d", data, "/f", view)
            c.require(status == 0, "the pending operation %s could not be recorded" % value)
        c.equal(c.setup(media, "-s", "-reboot"), 9, "exit code")
        c.check(gone(source), "the source is still there")
        if c.check(os.path.exists(target), "the target was not made"):
            with open(target) as f:
                c.equal(f.read(), "moved after the restart\n", "the target's content")
        status, _ = c.reg("query", PENDING_KEY, view)
        c.check(status != 0, "the pending operations' key is still there")
    finally:
        c.reg("delete", PENDING_KEY, "/f", view)
    names = c.names(media)
    c.equal([n for n in names if n != "SetProperty"],
            ["InstallEngineTypelib", "DllGetClassObject", "Attach", "SetCommandLine", "OpenCabinet", "SetSupportFolder",
             "Run", "Finish", "GetResult", "RemoveEngineTypelib"], "engine calls after the restart")
    c.equal(c.call(media, "Run").fields["wizard"], "0", "Run's wizard")


@case(trace=True)
def show_err_dlg(c):
    """"-show_err_dlg" fails at once with the report: -5001, the result file."""
    media = c.package(result="1")
    with Trace(c) as trace:
        code = c.setup(media, "-s", "-show_err_dlg")
    c.equal(code, -5001, "exit code")
    first_failure(c, trace, 168, 0x8000FFFF)
    unhandled(c, trace, -5001, 0x8000FFFF)
    result_file(c, os.path.join(media, "setup.log"), -5001)
    c.equal(c.calls(media), [], "engine calls")


@case(trace=True)
def show_err_msg(c):
    """"-show_err_msg" reports and ends with 0; a silent run still leaves its result file."""
    media = c.package(result="1")
    with Trace(c) as trace:
        code = c.setup(media, "-s", "-show_err_msg")
    c.equal(code, 0, "exit code")
    c.equal(trace.named("RecordFailure"), [], "RecordFailure records")
    unhandled(c, trace, -5001, 0)
    result_file(c, os.path.join(media, "setup.log"), -5001)
    c.equal(c.calls(media), [], "engine calls")


# Plants: a marking library under the name of a system library that setup calls in the run,
# beside the launcher, native first in Wine's load order for that run; a program without the
# defences beside the same plant takes it under the same order, so the case can fail. Not
# version.dll: Wine's own user32 imports it, so under that order the plant beside any program
# that links user32 is loaded before the program runs a line of its own.
def planted(library, run):
    def check(c):
        folder = run(c, library)
        mark = os.path.join(folder, library + ".loaded")
        c.check(not os.path.exists(mark), "setup.exe loaded the planted %s" % library)
        shutil.copyfile(os.path.join(c.bin, "plain_loader.exe"), os.path.join(folder, "plain_loader.exe"))
        c.equal(c.run(os.path.join(folder, "plain_loader.exe"), library, overrides=library[:-4] + "=n,b"), 0,
                "the plain loader's exit code")
        c.check(os.path.exists(mark), "the plain loader did not take the plant: the case cannot fail")
    return check


def plant(c, folder, library):
    shutil.copyfile(os.path.join(c.bin, "marking_plant.dll"), os.path.join(folder, library))


def msi_in_report(c, library):
    """The error report asks Windows Installer for the product's installed name."""
    media = c.package(result="1")
    plant(c, media, library)
    c.equal(c.setup(media, "-s", "-show_err_dlg", overrides="msi=n,b"), -5001, "exit code")
    result_file(c, os.path.join(media, "setup.log"), -5001)
    return media


def lz32_in_extraction(c, library):
    """A compressed entry of the appended package is expanded through LZ32."""
    launcher, _ = one_file_package(c, "1", compress=["readme.txt"])
    folder = os.path.dirname(launcher)
    plant(c, folder, library)
    target = c.path("extracted")
    os.makedirs(target)
    c.equal(c.run(launcher, "-s", "-extract_all:" + windows_path(target), overrides="lz32=n,b"), 0, "exit code")
    c.equal(sorted(os.listdir(target)), ["0x0409.ini", "RURavur.dll", "readme.txt", "setup.ini"], "the extracted files")
    with open(os.path.join(target, "readme.txt"), "rb") as f:
        c.equal(f.read(), README, "the expanded file")
    return folder


case(name="planted_msi")(planted("msi.dll", msi_in_report))
case(name="planted_lz32")(planted("lz32.dll", lz32_in_extraction))


def one_file_package(c, result, compress=()):
    """setup.exe with the package appended (a readme.txt too, stored LZ-compressed when
    `compress` names it); the control file stays outside, in "control"."""
    content = c.path("content")
    setup_package.make_package(content, c.bin, product=c.product, product_code=c.product_code)
    if compress:
        with open(os.path.join(content, "readme.txt"), "wb") as f:
            f.write(README)
    control = c.path("control")
    os.makedirs(control)
    setup_package.write_control(control, result=result)
    os.makedirs(c.path("one"))
    launcher = c.path("one", "setup.exe")
    mkpackage.write_package(os.path.join(c.bin, "setup.exe"), launcher, mkpackage.folder_entries(content, compress))
    return launcher, control


@case()
def appended_package(c):
    """The package behind the launcher is extracted into the Disk1 folder and run there; the
    engine finds its control file through -media_path:, which the extracted media overrides."""
    launcher, control = one_file_package(c, "2468")
    c.equal(c.run(launcher, "-s", "-media_path:" + windows_path(control)), 2468, "exit code")
    attach = c.call(control, "Attach").fields
    c.equal(attach["media"], attach["disk1"], "the media folder is the Disk1 folder")
    c.equal(c.call(control, "SetCommandLine").fields["ini"], attach["disk1"] + "setup.ini", "the engine's setup.ini")
    c.check(gone(linux_path(attach["disk1"])), "the Disk1 folder %s is left" % attach["disk1"])
    c.equal(os.listdir(c.path("one")), ["setup.exe"], "the launcher's folder")


@case()
def appended_extract_all(c):
    """"-extract_all:" extracts the package into that folder, made when missing, and ends with 0."""
    launcher, control = one_file_package(c, "1")
    target = c.path("extracted", "here")
    c.equal(c.run(launcher, "-s", "-extract_all:" + windows_path(target)), 0, "exit code")
    c.equal(sorted(os.listdir(target)) if os.path.isdir(target) else None,
            ["0x0409.ini", "RURavur.dll", "setup.ini"], "the extracted files")
    c.equal(c.calls(control), [], "engine calls")


@case()
def deleter_leaves_nothing(c):
    """After a normal run the Disk1 folder and the copy of setup.exe in it are gone."""
    media = c.package(result="0")
    before = sorted(os.listdir(media))
    c.equal(c.setup(media, "-s"), 0, "exit code")
    disk1 = linux_path(disk1_of(c, media))
    c.wait_until(lambda: gone(disk1), "the Disk1 folder's removal", CLEANUP_BOUND)
    c.equal(sorted(os.listdir(media)), sorted(before + ["RURavur.calls"]), "the media folder")


@case()
def no_deleter_keeps_everything(c):
    """"-no_deleter" keeps the Disk1 folder with the copy and the files copied there."""
    media = c.package(result="0")
    c.equal(c.setup(media, "-s", "-no_deleter"), 0, "exit code")
    disk1 = disk1_of(c, media)
    try:
        folder = linux_path(disk1)
        c.equal(sorted(os.listdir(folder)) if os.path.isdir(folder) else None,
                ["0x0409.ini", "RURavur.dll", "setup.exe", "setup.ini"], "the Disk1 folder")
    finally:
        remove_folder(disk1)


@case("desktop")
def splash(c):
    """The splash shows the package's picture, sized to it and centred, for its SplashTime."""
    media = c.package(result="3", splash=(320, 200), startup=[("SplashTime", "5")])
    process = c.start(os.path.join(media, "setup.exe"))
    try:
        status, _ = c.wintool("wait", c.title, str(WINDOW_BOUND * 1000))
        c.require(status == 0, "no progress window %r" % c.title)
        pid = next((p for p, _, _, title in c.top_level_windows() if title == c.title), None)
        splashes = [rect for p, cls, rect, title in c.top_level_windows() if p == pid and cls == "#32770" and not title]
        c.equal(splashes, [((1280 - 320) // 2, (1024 - 200) // 2, 320, 200)], "the splash window")
        c.screenshot()
        c.check(any(p == pid and not title for p, _, _, title in c.top_level_windows()),
                "the splash was gone by the screenshot's end")
    finally:
        c.equal(c.finish(process), 3, "exit code")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--bin")
    parser.add_argument("--work")
    parser.add_argument("--artifacts")
    parser.add_argument("--case")
    args = parser.parse_args()
    if args.list:
        for name in CASES:
            print(listed(name))
        return 0
    if not (args.bin and args.work and args.case in CASES):
        parser.error("give --bin, --work and --case (one of: %s)" % ", ".join(CASES))
    c = Case(args.case, os.path.abspath(args.bin), os.path.abspath(args.work), args.artifacts, CASES[args.case][2])
    function = CASES[args.case][0]
    try:
        function(c)
    except CaseFailed:
        pass
    finally:
        c.cleanup()
    for failure in c.failures:
        print("FAIL: %s" % failure, file=sys.stderr)
    if not c.failures:
        print("setup_e2e %s: passed" % args.case)
    return 1 if c.failures else 0


if __name__ == "__main__":
    sys.exit(main())
