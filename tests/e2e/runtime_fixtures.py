"""Helpers of the runtime scenarios: the installed MSI.DLL's version, a
setup whose runtime installer is the recording fake_runtime.exe, the
fake's records, the registry values a restart leaves, and a loopback
server that serves runtime downloads."""
import getpass
import os
import shutil
import struct
from pathlib import Path

import netserve
from pe import PeImage
from stub import Setup
from winehost import TESTBIN, wait_until

PRODUCT_CODE = "{12345678-9ABC-DEF0-1234-56789ABCDEF0}"
PACKED_CODE = "87654321CBA90FED21436587A9CBED0F"
PRODUCT_NAME = "Kest Runtime"
PRODUCT = {"ProductName": PRODUCT_NAME, "ProductCode": PRODUCT_CODE, "ProductVersion": "1.0.0",
           "ProductFile": "sample.msi", "CmdLine": "/qn"}
SYSTEM_MSIEXEC = r"C:\windows\system32\msiexec.exe"
CURRENT_VERSION = r"SOFTWARE\Microsoft\Windows\CurrentVersion"
RUN_ONCE = r"HKCU" + "\\" + CURRENT_VERSION + r"\RunOnce"
RUN = r"HKCU" + "\\" + CURRENT_VERSION + r"\Run"
RUN_ONCE_ENTRIES = r"HKLM" + "\\" + CURRENT_VERSION + r"\Installer\RunOnceEntries"
RESUME_VALUE = "KestStubReboot"
# The smallest download that counts as a runtime installer.
DOWNLOAD_MINIMUM = 1000000
SIGNATURE = 0xFEEF04BD  # VS_FIXEDFILEINFO's first word


def file_version(path):
    """(MS, LS) file version words of a PE file's version resource."""
    image = PeImage(Path(path).read_bytes())
    for (kind, _, _), data in image.resources().items():
        if kind != 16:  # RT_VERSION
            continue
        at = data.find(struct.pack("<I", SIGNATURE))
        if at >= 0:
            return struct.unpack_from("<II", data, at + 8)
    raise AssertionError(f"{path} has no fixed version information")


def version_text(ms, ls):
    return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"


def temp_folder(wine):
    """The prefix user's temporary folder, where the stub's KXC files go."""
    return wine.drive_c / "users" / getpass.getuser() / "Temp"


def temp_runtime_files(wine):
    return sorted(p.name for p in temp_folder(wine).glob("KXC*"))


class FakeRuntime:
    """The records of fake_runtime.exe for one test: one dict per run with
    program, cmdline, cwd and temp."""

    def __init__(self, wine, folder):
        self.wine = wine
        self.path = Path(folder) / "runtime-record.txt"

    def env(self, *exit_codes, wininit=False):
        e = {"KEST_RUNTIME_RECORD": self.wine.win(self.path),
             "KEST_RUNTIME_EXITS": ",".join(str(c) for c in exit_codes)}
        if wininit:
            e["KEST_RUNTIME_WININIT"] = "1"
        return e

    def runs(self):
        if not self.path.exists():
            return []
        out = []
        for block in self.path.read_bytes().decode("utf-8").split("--\r\n"):
            if block.strip():
                out.append(dict(line.split("=", 1) for line in block.split("\r\n") if "=" in line))
        return out

    def switches(self):
        """What each run received after its own quoted program path."""
        result = []
        for run in self.runs():
            line = run["cmdline"]
            assert line.startswith('"' + run["program"] + '"'), run
            result.append(line[len(run["program"]) + 3:])
        return result


class RuntimeSetup(Setup):
    """setup.exe in settings-file mode for the product above, with the fake
    runtime installer beside it as fake.exe."""

    def __init__(self, wine, name, exe_name="setup.exe", subdir=None, **settings):
        super().__init__(wine, name, exe_name=exe_name, subdir=subdir)
        shutil.copy2(TESTBIN / "fake_runtime.exe", self.folder / "fake.exe")
        self.fake = FakeRuntime(wine, self.folder)
        self.settings(**{**PRODUCT, **settings})


def padded_fake(size):
    """fake_runtime.exe with zeros appended up to size bytes: a program
    with trailing data still runs."""
    data = (TESTBIN / "fake_runtime.exe").read_bytes()
    assert len(data) < size
    return data + bytes(size - len(data))


def wait_for_wineboot(wine, timeout=60):
    """ExitWindowsEx under Wine starts wineboot --end-session and does not
    wait for it; the next scenario must not meet it closing its windows."""
    prefix = f"WINEPREFIX={wine.prefix}".encode()

    def gone():
        for pid in os.listdir("/proc"):
            if not pid.isdigit():
                continue
            try:
                cmdline = Path(f"/proc/{pid}/cmdline").read_bytes()
                if b"wineboot" not in cmdline.lower():
                    continue
                if prefix in Path(f"/proc/{pid}/environ").read_bytes().split(b"\0"):
                    return False
            except OSError:
                continue
        return True

    wait_until(gone, timeout, "wineboot to finish")


class RuntimeServer:
    """A recording HTTP server on port 80 of a loopback address of its own;
    its URLs name no port."""

    def __init__(self):
        self.net = netserve.session_network()
        self.server = netserve.HttpServer("runtime", f"{self.net}.{netserve.ORIGIN_A}")

    def url(self, path):
        return f"http://{self.server.address}{path}"

    def serve(self, path, reply):
        self.server.routes[path] = reply
        return self.url(path)

    def clear(self):
        self.server.clear()

    def close(self):
        self.server.close()


def wait_for_box(running, timeout=30):
    """The text of the first message box the stub opens ("caption: text",
    up to the text's first line break)."""
    return wait_until(lambda: running.message_boxes(), timeout, "a message box")[0]
