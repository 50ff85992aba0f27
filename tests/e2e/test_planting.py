"""Planted libraries and programs: a file named like a system library or
program, put beside setup.exe or in the folder it is started from (a
Downloads folder, a share), must never be loaded or started by the stub.

The planted library is planted_library.dll copied under each name; every
load of it appends its own path and the loading program to a record file.
WINEDLLOVERRIDES=<name>=n,b makes Wine prefer such a copy wherever a load
by name would find it. Wine's own USER32 imports VERSION, so a planted
copy of it loads into any program at start: five_imports.exe, which
imports what the stub imports and does nothing, is run the same way as
the control, and the stub may add no load to the control's. Wine's
libraries also load others by name while they work (COMCTL32 loads MSVFW32
for its animation control, WinInet and WSOCK32 import WS2_32): those loads
must stay in the system folder too, which the stub's restricted library
search sees to. Wine's loader trace tells that each library named was
loaded on the path, from the system folder.

Systems without SetDefaultDllDirectories (XP, Vista, 7 without its update)
look in the program's folder first whenever a system DLL loads a library
by name: USER32 loads UXTHEME for the first window or message box, the
shell OLE32 and the service manager RPCRT4 (delayed imports, which Wine
resolves through the program's folder even here), COMCTL32 MSVFW32 for its
animation control and WINMM. The stub loads each by full path before it
is needed, so that such a load finds it loaded: the trace must show each
one's first load made by full path.

Each run goes through the paths that load the libraries: the check of the
installed runtime's version (VERSION), the progress window (COMCTL32), a
runtime download through WinInet and through the socket client (WININET,
WSOCK32 and WS2_32 beneath it), the .NET runtime's animation (MSVFW32),
the removal check of another installed version (MSI) and the launch of
Windows Installer (msiexec.exe), in settings-file mode and from the
payload."""
import re
import shutil
from collections import Counter

import pytest

from netserve import content
from packer import make_package, pack
from runtime_fixtures import (DOWNLOAD_MINIMUM, PRODUCT, PRODUCT_CODE, PRODUCT_NAME, SYSTEM_MSIEXEC,
                              FakeRuntime, RuntimeSetup, file_version, padded_fake,
                              temp_folder, version_text)
from winehost import BASE_OVERRIDES, TESTBIN, UnexpectedMessageBox, wait_until

LIBRARIES = ("msi", "version", "comctl32", "msvfw32", "wininet", "ws2_32", "wsock32", "uxtheme",
             "ole32", "rpcrt4", "winmm", "msacm32")
# Loaded by name by system DLLs for a window, a dialog, the shell or the
# service manager: the stub loads them first, by full path.
BY_NAME = ("uxtheme", "ole32", "rpcrt4", "winmm", "msvfw32")
# Wine's loader reports each module it maps, and +pid names the process.
LOADED = re.compile(r'^([0-9a-f]+):[0-9a-f]+:trace:loaddll:\w+ Loaded L"(.*)" at ')
# ...and each library it looks for, by name or by full path.
LOOKING = re.compile(r'^([0-9a-f]+):[0-9a-f]+:trace:module:load_dll looking for L"(.*?)" in ')


def above_installed(wine):
    """The next build of the installed MSI.DLL: too old by one build."""
    ms, ls = file_version(wine.system32 / "msi.dll")
    return version_text(ms, ((ls >> 16) + 1) << 16)


def first_loads_by_name(trace, program, names):
    """Of names, those whose first load in program's process was a load by
    name, which a system without SetDefaultDllDirectories would look for
    in the program's folder first."""
    pid, first = None, {}
    for line in trace.splitlines():
        m = LOADED.match(line)
        if m and pid is None and m.group(2).lower().endswith("\\" + program):
            pid = m.group(1)
        m = LOOKING.match(line)
        if m and m.group(1) == pid:
            path = m.group(2).replace("\\\\", "\\").lower()
            first.setdefault(path.rpartition("\\")[2], path)
    return sorted(name for name in names if "\\" not in first.get(name + ".dll", "\\"))


def modules_by_program(trace):
    """{program file name: [full paths of the modules it loaded]} from
    Wine's loaddll trace; a process's first module is its program."""
    programs, modules = {}, {}
    for line in trace.splitlines():
        m = LOADED.match(line)
        if not m:
            continue
        pid, path = m.group(1), m.group(2).replace("\\\\", "\\").lower()
        programs.setdefault(pid, path.rpartition("\\")[2])
        modules.setdefault(programs[pid], []).append(path)
    return modules


class Planting:
    """setup.exe with the fake runtime beside it, a working directory
    elsewhere, and the planted library under every name in both folders,
    with a program of Windows Installer's name; five_imports.exe beside
    setup.exe is the control. The setup reads a settings file, or with
    packed carries the package and the runtime in its payload."""

    def __init__(self, wine, name, native_first=LIBRARIES, sockets=False, packed=False,
                 **settings):
        self.wine = wine
        if packed:
            self.folder = wine.scratch(name)
            shutil.copy2(make_package(code=PRODUCT_CODE, product=PRODUCT_NAME),
                         self.folder / "sample.msi")
            shutil.copy2(TESTBIN / "fake_runtime.exe", self.folder / "fake.exe")
            self.exe = pack(self.folder, {**PRODUCT, **settings})
            self.fake = FakeRuntime(wine, self.folder)
        else:
            setup = RuntimeSetup(wine, name, **settings)
            self.folder, self.exe, self.fake = setup.folder, setup.exe, setup.fake
        self.cwd = wine.scratch(name + "-cwd")
        self.record = wine.scratch(name + "-record") / "planted.txt"
        for folder in (self.folder, self.cwd):
            for library in LIBRARIES:
                shutil.copy2(TESTBIN / "planted_library.dll", folder / (library + ".dll"))
            # The recording stand-in: it records its own path when it runs.
            shutil.copy2(TESTBIN / "msiexec.exe", folder / "msiexec.exe")
        shutil.copy2(TESTBIN / "five_imports.exe", self.folder / "five_imports.exe")
        overrides = [BASE_OVERRIDES, "msiexec.exe=n", ",".join(native_first) + "=n,b"]
        if sockets:
            overrides.append("wininet=d")
        self.overrides = ";".join(overrides)

    def env(self, *exit_codes):
        return {"WINEDLLOVERRIDES": self.overrides, "KEST_PLANTED_RECORD": self.wine.win(self.record),
                "WINEDEBUG": "-all,+pid,+loaddll,+module", **self.fake.env(*exit_codes)}

    def marks(self, program):
        """How often each planted copy loaded into program, as
        "name.dll beside" or "name.dll in cwd"."""
        if not self.record.exists():
            return Counter()
        beside = self.wine.win(self.folder).lower() + "\\"
        out = Counter()
        for line in self.record.read_text(errors="replace").lower().splitlines():
            library, _, loader = line.partition("|")
            if loader.endswith("\\" + program):
                folder, _, name = library.rpartition("\\")
                out[name + (" beside" if folder + "\\" == beside else " in cwd")] += 1
        return out

    def run(self, program, *exit_codes):
        return self.wine.start(program, f'"{self.wine.win(program)}"', self.cwd,
                               env=self.env(*exit_codes))

    def run_control(self, *exit_codes):
        assert self.run(self.folder / "five_imports.exe", *exit_codes).finish() == 0
        return self.marks("five_imports.exe")

    def run_stub(self, *exit_codes, answer=None):
        """Runs setup.exe from the other folder; returns its exit code and
        the system libraries it loaded, by file name. Fails when a library
        that system DLLs load by name was first loaded that way."""
        self.wine.clear_records()
        running = self.run(self.exe, *exit_codes)
        if answer:
            answer(running)
        try:
            code = running.finish(90)
        except UnexpectedMessageBox as box:
            # A planted copy that was used makes the run fail: say which.
            raise AssertionError(f"{box}; planted copies loaded: "
                                 f"{dict(self.marks('setup.exe'))}") from box
        trace = running.stderr()
        assert first_loads_by_name(trace, "setup.exe", BY_NAME) == []
        system = self.wine.win(self.wine.system32).lower() + "\\"
        loaded = modules_by_program(trace).get("setup.exe", [])
        return code, {path[len(system):] for path in loaded if path.startswith(system)}


@pytest.fixture
def server(runtime_server):
    return runtime_server


def downloaded_runtime(server):
    server.clear()
    data = padded_fake(DOWNLOAD_MINIMUM + 4096)
    return {"RuntimeNT": server.serve("/instmsi.exe", content(data)),
            "RuntimeSizeNT": str(len(data))}


def check(plant, code, loaded, control, expected, installed=True):
    stub = plant.marks("setup.exe")
    print(f"\n{plant.folder.name}: control {dict(control)}, stub {dict(stub)}, "
          f"system copies {sorted(loaded)}")
    assert code == (0 if installed else 1)
    # Each library was loaded on this path, and from the system folder.
    assert {name + ".dll" for name in expected} <= loaded
    assert stub - control == Counter()
    # Windows Installer is the system's, whichever msiexec.exe lies about.
    assert [r["program"].lower() for r in plant.wine.records()] == \
        ([SYSTEM_MSIEXEC.lower()] if installed else [])


@pytest.mark.parametrize("sockets", [False, True], ids=["wininet", "sockets"])
def test_download_removal_check_and_launch(wine, server, sockets):
    """The version query, the progress window of a runtime download, the
    removal check of another version and the launch; over sockets the
    runtime asks for a delayed restart, so that Windows Installer is
    started from InstallerLocation."""
    settings = dict(RuntimeVersion=above_installed(wine), CmdLine="", Remove_Previous="1",
                    **downloaded_runtime(server))
    if sockets:
        settings["DelayReboot"] = "1"
    native_first = [n for n in LIBRARIES if not (sockets and n == "wininet")]
    plant = Planting(wine, "plant-" + ("sockets" if sockets else "wininet"), native_first,
                     sockets, **settings)
    exit_code = 3010 if sockets else 0
    control = plant.run_control(exit_code)
    code, loaded = plant.run_stub(exit_code)
    # Without WinInet, Wine's MSI.DLL cannot load (URLMON imports WinInet):
    # the removal check is made on the WinInet path only.
    expected = ["version", "comctl32"] + (["wsock32", "ws2_32"] if sockets else ["wininet", "msi"])
    check(plant, code, loaded, control, expected)
    (run,) = plant.fake.runs()
    assert plant.wine.unix(run["program"]).parent == temp_folder(wine)
    assert [r.path for r in server.server.requests] == ["/instmsi.exe"]
    if sockets:
        assert wine.records()[0]["cmdline"].endswith(" KESTDELAYEDREBOOT=1")


def test_dotnet_animation_and_a_runtime_of_the_planted_name(wine):
    """The .NET runtime's animation loads MSVFW32; its installer is named
    by the settings file, and a file of that name in the working
    directory is another program."""
    plant = Planting(wine, "plant-dotnet", RuntimeVersion="99.0.0.0", RuntimeDotNet="fake.exe",
                     CmdLine="")
    shutil.copy2(TESTBIN / "fake_runtime.exe", plant.cwd / "fake.exe")
    control = plant.run_control(0)
    code, loaded = plant.run_stub(0)
    check(plant, code, loaded, control, ["version", "comctl32", "msvfw32"])
    assert [r["program"].lower() for r in plant.fake.runs()] == [
        plant.wine.win(plant.folder / "fake.exe").lower()]


def test_runtime_missing_beside_setup_is_not_taken_from_the_working_directory(wine):
    """The settings name the installer by a relative name, and it is not
    beside setup.exe: the one of that name in the working directory is
    somebody else's. The run reports the runtime that could not start, in
    a box of its own and without the shell's, and installs nothing."""
    plant = Planting(wine, "plant-missing", RuntimeVersion=above_installed(wine),
                     RuntimeNT="instmsiw.exe")
    shutil.copy2(TESTBIN / "fake_runtime.exe", plant.cwd / "instmsiw.exe")
    control = plant.run_control(0)
    boxes = []

    def answer(running):
        boxes.append(wait_until(running.message_boxes, 30, "the stub's box"))
        plant.wine.ui("click", "Install", "1")

    code, loaded = plant.run_stub(0, answer=answer)
    check(plant, code, loaded, control, ["version", "ole32"], installed=False)
    assert plant.fake.runs() == []
    assert boxes == [["Install: Corrupt installation detected."]], boxes


@pytest.fixture
def extraction(wine):
    """The folder the package is extracted to, removed before and after."""
    folder = wine.drive_c.joinpath("Program Files", "Common Files", "Kest Installation Wizard")
    shutil.rmtree(folder, ignore_errors=True)
    yield folder
    shutil.rmtree(folder, ignore_errors=True)


def test_payload_runtime_extraction_and_launch(wine, extraction):
    """Carried in the payload: the runtime runs from a temporary file,
    the package is extracted with the progress window, and Windows
    Installer starts in the current folder, where the planted files lie."""
    plant = Planting(wine, "plant-packed", packed=True, RuntimeVersion=above_installed(wine),
                     RuntimeNT="fake.exe", CmdLine="")
    control = plant.run_control(0)
    code, loaded = plant.run_stub(0)
    check(plant, code, loaded, control, ["version", "comctl32"])
    (run,) = plant.fake.runs()
    assert plant.wine.unix(run["program"]).parent == temp_folder(wine)
    (record,) = wine.records()
    assert record["cwd"].lower() == wine.win(plant.cwd).lower()
