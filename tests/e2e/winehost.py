"""The Wine layer of the scenario tests.

One private prefix is created per build tree and architecture (cached under
build/), one Xvfb display and one persistent wineserver serve a whole test
session. Programs start through launch.exe, so that the stub's
GetCommandLineA is exactly the text a test gives, in the working directory
it names.

A session runs one stub: the 32-bit one in a 32-bit prefix, or the 64-bit
one and its test programs in a 64-bit prefix under wine64. make e2e runs
a session for each architecture that plan() names: both where the host
executes i386 programs and 32-bit Wine is installed, the 64-bit one alone
elsewhere (kernels built without 32-bit support). KEST_TEST_ARCH=x86 or
x64 forces one.
"""
import os
import re
import shutil
import signal
import struct
import subprocess
import tempfile
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BUILD = ROOT / "build"
WINE32_LOADER = "/usr/lib/wine/wine"
WINE64_LOADER = "/usr/lib/wine/wine64"


# The smallest i386 program: a static ELF whose code is exit(0) by int 0x80.
_EXIT_CODE = bytes.fromhex("b801000000" "31db" "cd80")


def _i386_exit_program():
    base, header, entry_size = 0x08048000, 52, 32
    size = header + entry_size + len(_EXIT_CODE)
    elf = struct.pack("<4sBBBBB7sHHIIIIIHHHHHH", b"\x7fELF", 1, 1, 1, 0, 0, bytes(7), 2, 3, 1,
                      base + header + entry_size, header, 0, 0, header, entry_size, 1, 0, 0, 0)
    segment = struct.pack("<8I", 1, 0, base, base, size, size, 5, 0x1000)
    return elf + segment + _EXIT_CODE


def host_runs_i386():
    """Whether this kernel executes 32-bit x86 programs: some are built
    without that support and answer "Exec format error". A program of a
    few bytes that only exits tells, whatever is installed."""
    fd, path = tempfile.mkstemp(prefix="kest-i386-")
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(_i386_exit_program())
        os.chmod(path, 0o700)
        return subprocess.run([path], timeout=20).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False
    finally:
        os.unlink(path)


def wine32_installed():
    try:
        r = subprocess.run([WINE32_LOADER, "--version"], stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=20)
    except (OSError, subprocess.TimeoutExpired):
        return False
    return r.returncode == 0


def describe(arch):
    return "64-bit stub under wine64" if arch == "x64" else "32-bit stub under wine"


def plan():
    """The architectures make e2e runs, in order, and the line that says
    which and why the other does not: the 32-bit stub first wherever the
    host can run it, then the 64-bit one; KEST_TEST_ARCH=x86 or x64
    forces one."""
    forced = os.environ.get("KEST_TEST_ARCH", "")
    if forced:
        if forced not in ("x86", "x64"):
            raise SystemExit(f"KEST_TEST_ARCH={forced}: give x86 or x64")
        return [forced], f"e2e: {describe(forced)} only; forced by KEST_TEST_ARCH"
    if not host_runs_i386():
        return ["x64"], "e2e: 64-bit stub under wine64 only; this host runs no 32-bit programs"
    if not wine32_installed():
        return ["x64"], "e2e: 64-bit stub under wine64 only; 32-bit Wine is not installed"
    return ["x86", "x64"], ("e2e: 32-bit stub under wine, then 64-bit stub under wine64; "
                            "this host runs 32-bit programs")


ARCHES, PLAN_LINE = plan()
ARCH = ARCHES[0]
X64 = ARCH == "x64"
STUB32 = BUILD / "bin" / "kestsetup.exe"
STUB64 = BUILD / "bin" / "kestsetup64.exe"
STUB = STUB64 if X64 else STUB32
TESTBIN = BUILD / ("testbin64" if X64 else "testbin")
PREFIX = BUILD / ("wineprefix64" if X64 else "wineprefix")
# Debian's wine wrapper picks the 32-bit loader whenever it is installed,
# so the 64-bit prefix is run by the 64-bit loader itself.
WINE = WINE64_LOADER if X64 else "wine"
ARCH_LINE = f"e2e: {describe(ARCH)}"
UNINSTALL_NATIVE = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
UNINSTALL_32BIT_VIEW = r"HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall"


def skip_unless(arch, reason):
    """A pytest mark for a case that exists on one architecture only."""
    import pytest
    return pytest.mark.skipif(ARCH != arch, reason=f"{arch} only: {reason}")
# Wine's own fonts (Debian's fonts-wine). This Wine does not look for them
# there, only in the prefix's Fonts folder; without them "MS Sans Serif",
# "Tahoma" and the caption buttons' "Marlett" fall back to other fonts.
WINE_FONTS = Path("/usr/share/wine/fonts")
# Mono and Gecko are not needed and would ask to be downloaded.
BASE_OVERRIDES = "mscoree,mshtml="


def wait_until(predicate, timeout, what):
    """Polls predicate until it holds; never a fixed sleep."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise TimeoutError(f"timed out after {timeout}s waiting for {what}")
        time.sleep(0.05)


class Display:
    """An Xvfb server for the session, on a display number it picks itself."""

    def __init__(self):
        read, write = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as f:
            number = f.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.name = f":{number}"

    def close(self):
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()


class Wine:
    """A private Wine prefix with the test programs installed in C:\\kesttools."""

    def __init__(self, display, prefix=PREFIX):
        self.display = display
        self.prefix = Path(prefix)
        self.env = dict(os.environ)
        for key in ("WINEDLLOVERRIDES", "WINELOADER", "WINESERVER"):
            self.env.pop(key, None)
        self.env.update(WINEPREFIX=str(self.prefix), WINEARCH="win64" if X64 else "win32",
                        WINEDEBUG="-all", DISPLAY=display.name, WINEDLLOVERRIDES=BASE_OVERRIDES)
        if X64:
            self.env["WINELOADER"] = WINE64_LOADER
        self.drive_c = self.prefix / "drive_c"
        self.stop_stale_server()
        if not (self.prefix / "system.reg").exists() or not (self.prefix / ".kest-ready").exists():
            self._create()
        # Kept running for the session, so that each program starts quickly;
        # an already running server of this prefix serves as well.
        subprocess.run(["wineserver", "-p"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        # The first program of a session starts Wine's background services,
        # which would inherit and hold open the pipes of whatever runs first.
        subprocess.run([WINE, "cmd", "/c", "exit"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        # Xvfb has no window manager, and Wine waits two seconds for one to
        # withdraw every managed window a program hides; unmanaged windows
        # go at once.
        self.reg_set(r"HKCU\Software\Wine\X11 Driver", "Managed", "N")
        self.tools = self.drive_c / "kesttools"
        self.tools.mkdir(exist_ok=True)
        for exe in TESTBIN.glob("*.exe"):
            shutil.copy2(exe, self.tools / exe.name)
        # The recording msiexec runs only with msiexec.exe=n; without that
        # override Wine's own Windows Installer runs as usual.
        shutil.copy2(TESTBIN / "msiexec.exe", self.system32 / "msiexec.exe")
        fonts = self.drive_c / "windows" / "Fonts"
        fonts.mkdir(exist_ok=True)
        for font in WINE_FONTS.glob("*.*"):
            if not (fonts / font.name).exists():
                shutil.copy2(font, fonts / font.name)
        self._scratch = 0

    @property
    def system32(self):
        return self.drive_c / "windows" / "system32"

    def stop_stale_server(self):
        """A run that was interrupted may have left this prefix's wineserver
        and its programs behind, stuck on a display that is gone; a new
        session would wait on them for ever."""
        if self.prefix.exists():
            subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=60)
            try:
                subprocess.run(["wineserver", "-w"], env=self.env, timeout=30)
            except subprocess.TimeoutExpired:
                pass

    def _create(self):
        if self.prefix.exists():
            shutil.rmtree(self.prefix)
        subprocess.run([WINE, "wineboot", "-i"], env=self.env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
        subprocess.run(["wineserver", "-w"], env=self.env, check=True, timeout=300)
        (self.prefix / ".kest-ready").write_text("ok\n")

    def close(self):
        subprocess.run(["wineserver", "-k"], env=self.env)

    # Paths ---------------------------------------------------------------
    def win(self, path):
        """The Windows name of a Unix path inside or outside the prefix."""
        path = Path(path).resolve()
        try:
            rel = path.relative_to(self.drive_c.resolve())
            return "C:\\" + str(rel).replace("/", "\\") if str(rel) != "." else "C:\\"
        except ValueError:
            return "Z:" + str(path).replace("/", "\\")

    def unix(self, winpath):
        assert winpath[1:3] == ":\\", winpath
        drive = winpath[0].upper()
        rest = winpath[3:].replace("\\", "/")
        base = self.drive_c if drive == "C" else Path("/")
        return base / rest

    def scratch(self, name):
        """A new empty folder under C:\\t."""
        self._scratch += 1
        folder = self.drive_c / "t" / f"{self._scratch:03d}-{name}"
        if folder.exists():
            shutil.rmtree(folder)
        folder.mkdir(parents=True)
        return folder

    # Running ---------------------------------------------------------------
    def environment(self, env=None, record_msiexec=False, lang=None):
        e = dict(self.env)
        if record_msiexec:
            e["WINEDLLOVERRIDES"] = BASE_OVERRIDES + ";msiexec.exe=n"
        if lang:
            e["LANG"] = lang
            e["LC_ALL"] = lang
        if env:
            e.update(env)
        return e

    def start(self, program, command_line, cwd=None, **kw):
        """Starts program (a Unix path) with the exact Windows command line.
        Windows Installer is the recording stand-in unless the test asks for
        the real one with record_msiexec=False: a stray real installation
        would change what later tests find."""
        kw.setdefault("record_msiexec", True)
        fd, spec = tempfile.mkstemp(prefix="launch-", suffix=".txt")
        with os.fdopen(fd, "w", newline="", encoding="utf-8") as f:
            f.write(self.win(program) + "\n" + (self.win(cwd) if cwd else "") + "\n" + command_line)
        process = subprocess.Popen(
            [WINE, str(self.tools / "launch.exe"), self.win(spec)],
            env=self.environment(**kw), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, text=True, errors="replace")
        return Running(process, spec)

    def run(self, program, command_line, cwd=None, timeout=60, **kw):
        return self.start(program, command_line, cwd, **kw).finish(timeout)

    def tool(self, name, *args, timeout=60, **kw):
        """Runs one of the Windows test programs; returns CompletedProcess."""
        return subprocess.run([WINE, str(self.tools / name), *args], env=self.environment(**kw),
                              capture_output=True, text=True, errors="replace", timeout=timeout)

    def msiexec(self, *args, timeout=300):
        """Wine's own Windows Installer, for setting up and cleaning up products."""
        return subprocess.run([WINE, "msiexec", *args], env=self.environment(),
                              capture_output=True, text=True, errors="replace", timeout=timeout)

    def ui(self, *args, timeout=60):
        return self.tool("uidriver.exe", *args, timeout=timeout)

    # Registry ----------------------------------------------------------------
    def reg(self, *args):
        return subprocess.run([WINE, "reg", *args], env=self.env, capture_output=True,
                              text=True, errors="replace", timeout=60)

    def reg_query(self, key, value):
        """The data of a registry value, or None when it does not exist."""
        r = self.reg("query", key, "/v", value)
        if r.returncode != 0:
            return None
        # "    NAME    REG_SZ    DATA": names such as "ProgramFilesDir (x86)"
        # hold blanks, so the type is what separates them from the data.
        for line in r.stdout.splitlines():
            m = re.match(r"\s*(.*?)\s+(REG_\w+)(?:\s+(.*))?$", line)
            if m and m.group(1).lower() == value.lower():
                return m.group(3) or ""
        return None

    def reg_text(self, key, value):
        """A text value (REG_SZ or REG_EXPAND_SZ) exactly, whatever its
        characters: read from what reg export writes, in UTF-16, where reg
        query prints in the console's code page. None when it does not
        exist."""
        fd, path = tempfile.mkstemp(suffix=".reg")
        os.close(fd)
        try:
            if self.reg("export", key, self.win(path), "/y").returncode != 0:
                return None
            text = Path(path).read_bytes().decode("utf-16").replace("\\\r\n  ", "")
        finally:
            os.unlink(path)
        name = re.escape(value.replace("\\", "\\\\").replace('"', '\\"'))
        m = re.search(r'^"' + name + r'"=(?:"((?:[^"\\]|\\.)*)"|hex\(2\):([0-9a-f,]*))\r?$', text,
                      re.M | re.I)
        if not m:
            return None
        if m.group(1) is not None:
            return re.sub(r"\\(.)", r"\1", m.group(1))
        return bytes.fromhex(m.group(2).replace(",", "")).decode("utf-16-le").rstrip("\0")

    # Where the test packages went: they are 32-bit packages, which a 64-bit
    # prefix installs under "Program Files (x86)" and registers in the
    # 32-bit view of the registry, like 64-bit Windows does.
    def program_files_x86(self):
        """The Unix path of the folder 32-bit packages install into."""
        key = r"HKLM\Software\Microsoft\Windows\CurrentVersion"
        folder = self.reg_query(key, "ProgramFilesDir (x86)") or self.reg_query(key, "ProgramFilesDir")
        return self.unix(folder)

    def product_key(self, code):
        """The Uninstall key of an installed product, in whichever registry
        view holds it; None when the product is not installed."""
        for key in (UNINSTALL_NATIVE, UNINSTALL_32BIT_VIEW):
            if self.reg("query", key + "\\" + code).returncode == 0:
                return key + "\\" + code
        return None

    def product_value(self, code, value):
        """A value of an installed product's Uninstall key; None when the
        product is not installed."""
        key = self.product_key(code)
        return self.reg_query(key, value) if key else None

    def reg_set(self, key, value, data, kind="REG_SZ"):
        r = self.reg("add", key, "/v", value, "/t", kind, "/d", data, "/f")
        assert r.returncode == 0, r.stderr

    def reg_delete(self, key, value=None):
        args = ["delete", key] + (["/v", value] if value else []) + ["/f"]
        self.reg(*args)

    # The recording msiexec -------------------------------------------------------
    @property
    def record_file(self):
        return self.drive_c / "msiexec-record.txt"

    def clear_records(self):
        self.record_file.unlink(missing_ok=True)

    def records(self):
        """Each run of the recording msiexec as a dict: program, cmdline, cwd."""
        if not self.record_file.exists():
            return []
        out = []
        for block in self.record_file.read_bytes().decode("utf-8").split("--\r\n"):
            if not block.strip():
                continue
            rec = {}
            for line in block.split("\r\n"):
                if "=" in line:
                    k, v = line.split("=", 1)
                    rec[k] = v
            out.append(rec)
        return out


class UnexpectedMessageBox(AssertionError):
    """The program stopped on a message box that nobody was there to answer."""


class Running:
    """A program started through launch.exe, which reports each message box
    of the program on its stderr as it opens and closes."""

    # How long a message box may stand while the test only waits for the end:
    # a test that expects one answers it before it calls finish().
    BOX_GRACE = 8.0

    def __init__(self, process, spec):
        self.process = process
        self.spec = spec
        self._err = []
        self._boxes = {}  # window -> (opened at, "caption: text")
        self._lock = threading.Lock()
        self._reader = threading.Thread(target=self._read_stderr, daemon=True)
        self._reader.start()

    def _read_stderr(self):
        for line in self.process.stderr:
            now = time.monotonic()
            with self._lock:
                self._err.append(line)
                if line.startswith("box="):
                    window, _, text = line[4:].rstrip("\r\n").partition(" ")
                    self._boxes[window] = (now, text)
                elif line.startswith("closed="):
                    self._boxes.pop(line[7:].strip(), None)

    def stderr(self):
        """What the program and its children wrote to stderr so far, Wine's
        own trace lines included."""
        with self._lock:
            return "".join(self._err)

    def message_boxes(self):
        """The texts of the program's message boxes that are open now."""
        with self._lock:
            return [text for _, text in self._boxes.values()]

    def _stuck_box(self, since):
        with self._lock:
            for opened, text in self._boxes.values():
                if time.monotonic() - max(opened, since) > self.BOX_GRACE:
                    return text
        return None

    def finish(self, timeout=60):
        started = time.monotonic()
        try:
            while True:
                try:
                    self.process.wait(0.25)
                    break
                except subprocess.TimeoutExpired:
                    pass
                box = self._stuck_box(started)
                if box is not None:
                    self.stop()
                    raise UnexpectedMessageBox(f"the program stopped on a message box: {box}")
                if time.monotonic() - started > timeout:
                    boxes = self.message_boxes()
                    self.stop()
                    raise subprocess.TimeoutExpired(
                        self.process.args, timeout,
                        output=f"open message boxes: {boxes}" if boxes else None)
        finally:
            self.stop()
            self._reader.join(5)
            Path(self.spec).unlink(missing_ok=True)
        out = self.process.stdout.read()
        err = "".join(self._err)
        code = None
        for line in out.splitlines():
            if line.startswith("exit="):
                code = int(line[5:])
        if code is None:
            raise RuntimeError(f"launch failed ({self.process.returncode}): {out} {err}")
        return code

    def running(self):
        return self.process.poll() is None

    def stop(self):
        """Ends the program, then launch.exe; nothing stays behind."""
        if self.process.poll() is None:
            try:
                self.process.stdin.write("kill\n")
                self.process.stdin.flush()
                self.process.wait(10)
            except (OSError, subprocess.TimeoutExpired):
                self.process.kill()
        self.process.wait()
        if self.process.stdin:
            try:
                self.process.stdin.close()
            except OSError:
                pass
