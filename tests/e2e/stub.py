"""Scenario helpers: a folder holding setup.exe and its settings file."""
import shutil
from pathlib import Path

from winehost import STUB

SECTION = "KestInstaller"


def write_ini(path, values, section=SECTION):
    """Writes an INI file as Windows reads it: CRLF, ANSI."""
    lines = [f"[{section}]"] + [f"{k}={v}" for k, v in values.items()]
    Path(path).write_bytes(("\r\n".join(lines) + "\r\n").encode("latin-1"))


class Setup:
    """setup.exe (the built stub) in a new folder of the prefix."""

    def __init__(self, wine, name, exe_name="setup.exe", subdir=None, stub=STUB):
        self.wine = wine
        self.folder = wine.scratch(name)
        if subdir:
            self.folder = self.folder / subdir
            self.folder.mkdir(parents=True)
        self.exe = self.folder / exe_name
        shutil.copy2(stub, self.exe)

    @property
    def ini(self):
        stem = self.exe.name.rsplit(".", 1)[0] if "." in self.exe.name else self.exe.name
        return self.folder / (stem + ".ini")

    def settings(self, **values):
        write_ini(self.ini, {k.replace("_", " "): v for k, v in values.items()})
        return self

    def command_line(self, arguments=""):
        quoted = '"' + self.wine.win(self.exe) + '"'
        return quoted + (" " + arguments if arguments else "")

    def start(self, arguments="", cwd=None, **kw):
        return self.wine.start(self.exe, self.command_line(arguments), cwd, **kw)

    def run(self, arguments="", cwd=None, timeout=60, **kw):
        return self.wine.run(self.exe, self.command_line(arguments), cwd, timeout=timeout, **kw)
