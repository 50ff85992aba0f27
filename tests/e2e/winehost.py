"""The Wine layer of the scenario tests.

One private 32-bit prefix is created per build tree (cached under build/),
one Xvfb display and one persistent wineserver serve a whole test session.
Programs start through launch.exe, so that the stub's GetCommandLineA is
exactly the text a test gives, in the working directory it names.
"""
import os
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BUILD = ROOT / "build"
STUB = BUILD / "bin" / "kestsetup.exe"
TESTBIN = BUILD / "testbin"
PREFIX = BUILD / "wineprefix"
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
        self.env.update(WINEPREFIX=str(self.prefix), WINEARCH="win32", WINEDEBUG="-all",
                        DISPLAY=display.name, WINEDLLOVERRIDES=BASE_OVERRIDES)
        self.drive_c = self.prefix / "drive_c"
        if not (self.prefix / "system.reg").exists() or not (self.prefix / ".kest-ready").exists():
            self._create()
        # Kept running for the session, so that each program starts quickly;
        # an already running server of this prefix serves as well.
        subprocess.run(["wineserver", "-p"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        # The first program of a session starts Wine's background services,
        # which would inherit and hold open the pipes of whatever runs first.
        subprocess.run(["wine", "cmd", "/c", "exit"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
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

    def _create(self):
        if self.prefix.exists():
            shutil.rmtree(self.prefix)
        subprocess.run(["wineboot", "-i"], env=self.env, check=True,
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
        with os.fdopen(fd, "w", newline="") as f:
            f.write(self.win(program) + "\n" + (self.win(cwd) if cwd else "") + "\n" + command_line)
        process = subprocess.Popen(
            ["wine", str(self.tools / "launch.exe"), self.win(spec)],
            env=self.environment(**kw), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
            text=True, errors="replace")
        return Running(process, spec)

    def run(self, program, command_line, cwd=None, timeout=60, **kw):
        return self.start(program, command_line, cwd, **kw).finish(timeout)

    def tool(self, name, *args, timeout=60, **kw):
        """Runs one of the Windows test programs; returns CompletedProcess."""
        return subprocess.run(["wine", str(self.tools / name), *args], env=self.environment(**kw),
                              capture_output=True, text=True, errors="replace", timeout=timeout)

    def msiexec(self, *args, timeout=300):
        """Wine's own Windows Installer, for setting up and cleaning up products."""
        return subprocess.run(["wine", "msiexec", *args], env=self.environment(),
                              capture_output=True, text=True, errors="replace", timeout=timeout)

    def ui(self, *args, timeout=60):
        return self.tool("uidriver.exe", *args, timeout=timeout)

    # Registry ----------------------------------------------------------------
    def reg(self, *args):
        return subprocess.run(["wine", "reg", *args], env=self.env, capture_output=True,
                              text=True, errors="replace", timeout=60)

    def reg_query(self, key, value):
        """The data of a registry value, or None when it does not exist."""
        r = self.reg("query", key, "/v", value)
        if r.returncode != 0:
            return None
        for line in r.stdout.splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) >= 2 and parts[0].lower() == value.lower() and parts[1].startswith("REG_"):
                return parts[2] if len(parts) == 3 else ""
        return None

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
        for block in self.record_file.read_bytes().decode("latin-1").split("--\r\n"):
            if not block.strip():
                continue
            rec = {}
            for line in block.split("\r\n"):
                if "=" in line:
                    k, v = line.split("=", 1)
                    rec[k] = v
            out.append(rec)
        return out


class Running:
    """A program started through launch.exe."""

    def __init__(self, process, spec):
        self.process = process
        self.spec = spec

    def finish(self, timeout=60):
        try:
            out, err = self.process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            out, err = self.process.communicate()
            raise
        finally:
            Path(self.spec).unlink(missing_ok=True)
        code = None
        for line in out.splitlines():
            if line.startswith("exit="):
                code = int(line[5:])
        if code is None:
            raise RuntimeError(f"launch failed ({self.process.returncode}): {out} {err}")
        return code

    def running(self):
        return self.process.poll() is None
