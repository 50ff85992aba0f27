"""The runtime phase end to end: whether the installed Windows Installer (or
.NET runtime) is too old, how the runtime installer is obtained and started,
what its result means, the restart and its resume command, the repair of
the machine environment, and where VERSION.DLL comes from.

The runtime installer is fake_runtime.exe, which records how it was
started and ends with the codes a test gives it. Windows Installer is the
recording msiexec.exe unless a test installs a real package."""
import hashlib
import re
import shutil
import subprocess

import pytest

from netserve import content, trickle
from packages import build_msi, guid
from packer import inspect, make_package, pack
from runtime_fixtures import (DOWNLOAD_MINIMUM, PACKED_CODE, PRODUCT, PRODUCT_CODE, PRODUCT_NAME,
                              RESUME_VALUE, RUN, RUN_ONCE, RUN_ONCE_ENTRIES, SYSTEM_MSIEXEC,
                              FakeRuntime, RuntimeSetup, file_version,
                              padded_fake, temp_folder, temp_runtime_files, version_text,
                              wait_for_box, wait_for_wineboot)
from uitest import layout_faults
from winehost import BASE_OVERRIDES, TESTBIN, WINE, X64, skip_unless, wait_until

INTERNET_TEXT = ("An attempt to install this product from the Internet has failed, possibly due "
                 "to a missing Internet connection or server error. Please check your Internet "
                 "connection and contact the vendor of this product for additional information.")
CRC_TEXT = "Corrupt installation detected, check source media or re-download."
ADMIN_TEXT = ("You must have administrator rights to run this installation. Please login as an "
              "administrator and re-run this installation.")
REBOOT_TEXT = ("This system must reboot before the installation can begin. After the reboot the "
               "installation will restart automatically. Do you want to reboot this system?")
HASH_TEXT = "The downloaded file is not the one this installation expects. It was not run."
CORRUPT_TEXT = "Corrupt installation detected."
SP6_TEXT = ("The Windows Installer 2.0 runtime can only be installed with Windows NT Service "
            "Pack 6 or higher. Please install Windows NT Service Pack 6 and rerun this "
            "installation.")
QUIET = "/q /r:n"
DELAYED = '/c:"msiinst /delayrebootq"'
DOTNET_FIRST = '/q:a /c:"Install /q"'
DOTNET_UPDATE = "/q:a"
YES, NO = "6", "7"
ENVIRONMENT = r"HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
MACHINE_RUN_ONCE = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\RunOnce"
WIZARD = ("Program Files", "Common Files", "Kest Installation Wizard")


def installed_msi(wine):
    return file_version(wine.system32 / "msi.dll")


def above_installed(wine):
    """The next build of the installed MSI.DLL: too old by one build."""
    ms, ls = installed_msi(wine)
    return version_text(ms, ((ls >> 16) + 1) << 16)


def msiexec_arguments(setup, extra=""):
    """The whole msiexec command of the launch."""
    return (f'"{SYSTEM_MSIEXEC}" /qn /I "{setup.wine.win(setup.folder / "sample.msi")}"'
            f' KEST_SETUP_EXE_PATH="{setup.wine.win(setup.exe)}"{extra}')


def msiexec_commands(wine):
    """Each recorded msiexec command line, the system's msiexec spelt one
    way: the delayed-restart launch spells it after InstallerLocation."""
    out = []
    for record in wine.records():
        line = record["cmdline"]
        end = line.index('"', 1)
        if line[1:end].lower() == SYSTEM_MSIEXEC.lower():
            line = '"' + SYSTEM_MSIEXEC + line[end:]
        out.append(line)
    return out


def answer(wine, button, caption=PRODUCT_NAME):
    """Dumps the open box of that caption, presses button, returns the dump."""
    box = wine.ui("dump", caption)
    assert box.returncode == 0, box.stdout + box.stderr
    wine.ui("click", caption, button)
    return box.stdout


@pytest.fixture
def restart_values(wine):
    """The values a restart leaves in the registry, gone before and after."""
    def clear():
        wait_for_wineboot(wine)
        wine.reg_delete(RUN_ONCE, RESUME_VALUE)
        wine.reg_delete(RUN, RESUME_VALUE)
        wine.reg_delete(RUN_ONCE_ENTRIES, PACKED_CODE)
    clear()
    yield
    clear()


# The installed version against the required one ---------------------------------
@pytest.mark.parametrize("required, step", [
    (lambda ms, ls: version_text(ms, ((ls >> 16) + 1) << 16), True),
    # The revision does not count: a higher one is no newer runtime.
    (lambda ms, ls: version_text(ms, ls + 1), False),
    (lambda ms, ls: version_text(ms, ((ls >> 16) - 1) << 16), False),
    (lambda ms, ls: "", False),
], ids=["next-build", "higher-revision", "older-build", "no-requirement"])
def test_required_version_decides_the_runtime_step(wine, required, step):
    ms, ls = installed_msi(wine)
    assert ls & 0xFFFF != 0xFFFF and ls >> 16 > 0, version_text(ms, ls)
    setup = RuntimeSetup(wine, "version", RuntimeVersion=required(ms, ls), RuntimeNT="fake.exe")
    wine.clear_records()
    assert setup.run(env=setup.fake.env(0)) == 0
    assert setup.fake.switches() == ([QUIET] if step else [])
    # The package follows either way.
    assert msiexec_commands(wine) == [msiexec_arguments(setup)]


def pin(data, upper=False):
    """The "#sha256=" pin of data, its digits in either case."""
    digest = hashlib.sha256(data).hexdigest()
    return "#sha256=" + (digest.upper() if upper else digest)


@pytest.mark.parametrize("pinned", [False, True], ids=["unpinned", "pinned"])
def test_runtime_named_by_the_settings_runs_in_the_programs_folder_and_stays(wine, pinned):
    fake = (TESTBIN / "fake_runtime.exe").read_bytes()
    setup = RuntimeSetup(wine, "direct", RuntimeVersion=above_installed(wine),
                         RuntimeNT="fake.exe" + (pin(fake, upper=True) if pinned else ""))
    elsewhere = wine.scratch("direct-cwd")
    assert setup.run(cwd=elsewhere, env=setup.fake.env(0)) == 0
    (run,) = setup.fake.runs()
    assert run["program"].lower() == wine.win(setup.folder / "fake.exe").lower()
    assert run["cwd"].lower() == wine.win(setup.folder).lower()
    assert (setup.folder / "fake.exe").exists()


# Switches -------------------------------------------------------------------------
@pytest.mark.parametrize("settings, switches, question", [
    ({}, QUIET, True),
    ({"DelayReboot": "1"}, DELAYED, False),
    # The author's own command: no result of it leads to a restart.
    ({"InstMsi_CmdLine": "/quiet"}, "/quiet", False),
    ({"InstMsi_CmdLine": "/quiet", "DelayReboot": "1"}, "/quiet", False),
    # The built-in switches in another case are no command of the author's.
    ({"InstMsi_CmdLine": "/Q /R:N"}, "/Q /R:N", True),
    ({"InstMsi_CmdLine": "/Q /R:N", "DelayReboot": "1"}, DELAYED, False),
], ids=["default", "delay-reboot", "custom", "custom-delay-reboot", "capitals",
        "capitals-delay-reboot"])
def test_switches_and_whether_a_restart_may_follow(wine, restart_values, settings, switches,
                                                   question):
    setup = RuntimeSetup(wine, "switches", RuntimeVersion=above_installed(wine),
                         RuntimeNT="fake.exe", **settings)
    wine.clear_records()
    running = setup.start(env=setup.fake.env(3010))
    if question:
        assert wait_for_box(running) == f"{PRODUCT_NAME}: {REBOOT_TEXT}"
        answer(wine, NO)
        assert running.finish() == 1
        assert wine.records() == []
    else:
        code = running.finish()
        delayed = "DelayReboot" in settings and switches == DELAYED
        assert code == 0
        assert msiexec_commands(wine) == [
            msiexec_arguments(setup, " KESTDELAYEDREBOOT=1" if delayed else "")]
    assert setup.fake.switches() == [switches]
    assert wine.reg_query(RUN_ONCE, RESUME_VALUE) is None


def test_dotnet_runs_runtime_and_update_and_asks_once(wine, restart_values):
    setup = RuntimeSetup(wine, "dotnet", RuntimeVersion="99.0.0.0", RuntimeDotNet="fake.exe",
                         RuntimeDotNetUpdate="fake.exe", InstMsi_CmdLine="/ignored")
    wine.clear_records()
    running = setup.start(env=setup.fake.env(3010, 3010))
    assert wait_for_box(running) == f"{PRODUCT_NAME}: {REBOOT_TEXT}"
    answer(wine, YES)
    # The update's restart was agreed to already: no second question.
    assert running.finish() == 1641
    assert setup.fake.switches() == [DOTNET_FIRST, DOTNET_UPDATE]
    assert wine.records() == []
    assert wine.reg_query(RUN_ONCE, RESUME_VALUE) == msiexec_arguments(setup)


def test_dotnet_without_update_is_one_pass(wine):
    setup = RuntimeSetup(wine, "dotnet-one", RuntimeVersion="99.0.0.0", RuntimeDotNet="fake.exe")
    wine.clear_records()
    assert setup.run(env=setup.fake.env(0)) == 0
    assert setup.fake.switches() == [DOTNET_FIRST]
    assert len(wine.records()) == 1


# Results ----------------------------------------------------------------------------
def test_declined_restart_ends_the_run_without_the_package(wine, restart_values):
    setup = RuntimeSetup(wine, "declined", RuntimeVersion=above_installed(wine), RuntimeNT="fake.exe")
    # A value an older resumed run may have left goes at every start.
    wine.reg_set(RUN, RESUME_VALUE, "left over")
    wine.clear_records()
    # Any result but 0 asks, not only the restart codes.
    running = setup.start(env=setup.fake.env(1))
    wait_for_box(running)
    text = answer(wine, NO)
    assert "id=6" in text and "id=7" in text  # Yes and No
    assert running.finish() == 1
    assert wine.records() == []
    assert wine.reg_query(RUN_ONCE, RESUME_VALUE) is None
    assert wine.reg_query(RUN, RESUME_VALUE) is None


def test_restart_question_layout_holds_at_any_resolution(wine, restart_values, dpi):
    setup = RuntimeSetup(wine, "ask-dpi", RuntimeVersion=above_installed(wine), RuntimeNT="fake.exe")
    running = setup.start(env=setup.fake.env(3010))
    wait_for_box(running)
    faults = layout_faults(wine, PRODUCT_NAME, "message")
    answer(wine, NO)
    assert running.finish() == 1
    assert faults == []


def test_agreed_restart_registers_the_whole_msiexec_command(wine, restart_values):
    setup = RuntimeSetup(wine, "agreed", RuntimeVersion=above_installed(wine), RuntimeNT="fake.exe")
    wine.clear_records()
    running = setup.start(env=setup.fake.env(3010))
    wait_for_box(running)
    answer(wine, YES)
    assert running.finish() == 1641
    assert wine.records() == []
    assert wine.reg_query(RUN_ONCE, RESUME_VALUE) == msiexec_arguments(setup)


@pytest.mark.parametrize("entry, registered", [("{resume}", False), ("", True)],
                         ids=["installer-resumes", "empty-entry"])
def test_installer_resume_entry_replaces_ours(wine, restart_values, entry, registered):
    wine.reg_set(RUN_ONCE_ENTRIES, PACKED_CODE, entry)
    setup = RuntimeSetup(wine, "entries", RuntimeVersion=above_installed(wine), RuntimeNT="fake.exe")
    running = setup.start(env=setup.fake.env(3010))
    wait_for_box(running)
    answer(wine, YES)
    # The restart is requested either way.
    assert running.finish() == 1641
    expected = msiexec_arguments(setup) if registered else None
    assert wine.reg_query(RUN_ONCE, RESUME_VALUE) == expected


def test_dotnet_product_version_unsupported_reruns_quietly_and_stops(wine):
    setup = RuntimeSetup(wine, "dotnet-1633", RuntimeVersion="99.0.0.0", RuntimeDotNet="fake.exe",
                         RuntimeDotNetUpdate="fake.exe")
    wine.clear_records()
    assert setup.run(env=setup.fake.env(1633, 0)) == 1
    # The same installer again, then nothing: neither the update nor the package.
    assert setup.fake.switches() == [DOTNET_FIRST, DOTNET_UPDATE]
    assert len({r["program"] for r in setup.fake.runs()}) == 1
    assert wine.records() == []


@pytest.mark.parametrize("folder, registered", [
    ("a folder whose name is far too long for the command that Windows runs after a restart", True),
    ("/".join(["abcdefgh"] * 12), False),
], ids=["short-forms", "too-long"])
def test_resume_command_stays_within_what_runonce_runs(wine, restart_values, folder, registered):
    """Windows runs no RunOnce command of more than 260 characters: past
    that, the paths' short forms are used; where even they do not fit,
    nothing is registered and the user is told to start setup again."""
    setup = RuntimeSetup(wine, "resume-length", subdir=folder, RuntimeVersion=above_installed(wine),
                         RuntimeNT="fake.exe")
    assert len(msiexec_arguments(setup)) > 260
    wine.clear_records()
    running = setup.start(env=setup.fake.env(3010))
    wait_for_box(running)
    answer(wine, YES)
    if registered:
        assert running.finish() == 1641
        command = wine.reg_query(RUN_ONCE, RESUME_VALUE)
        assert len(command) <= 260 and "~" in command, command
        assert command.startswith(f'"{SYSTEM_MSIEXEC}" /qn /I "') and "sample.msi\" KEST_SETUP_EXE_PATH=" in command
    else:
        box = wait_until(lambda: [b for b in running.message_boxes() if "start this setup again" in b], 30,
                         "the word on starting setup again")
        assert box == [f"{PRODUCT_NAME}: Windows must restart before the installation can go on. "
                       "After the restart, please start this setup again."]
        wine.ui("click", PRODUCT_NAME, "2")
        assert running.finish() == 1
        assert wine.reg_query(RUN_ONCE, RESUME_VALUE) is None
    assert wine.records() == []


def test_missing_service_pack_is_reported(wine):
    setup = RuntimeSetup(wine, "sp6", RuntimeVersion=above_installed(wine), RuntimeNT="fake.exe")
    wine.clear_records()
    running = setup.start(env=setup.fake.env("0x800401FA"))
    assert wait_for_box(running) == f"{PRODUCT_NAME}: {SP6_TEXT}"
    wine.ui("click", PRODUCT_NAME, "2")
    assert running.finish() == 1
    assert wine.records() == []


# The runtime carried in the payload ---------------------------------------------------
@pytest.fixture
def packed_runtime(wine):
    """setup.exe packed with fake_runtime.exe as its NT runtime; the
    extraction folder is cleaned before and after."""
    extraction = wine.drive_c.joinpath(*WIZARD)
    shutil.rmtree(extraction, ignore_errors=True)
    folder = wine.scratch("packed-runtime")
    shutil.copy2(make_package(code=PRODUCT_CODE, product=PRODUCT_NAME), folder / "sample.msi")
    shutil.copy2(TESTBIN / "fake_runtime.exe", folder / "fake.exe")
    exe = pack(folder, {**PRODUCT, "RuntimeVersion": above_installed(wine), "RuntimeNT": "fake.exe"})
    yield folder, exe
    shutil.rmtree(extraction, ignore_errors=True)


def test_payload_runtime_runs_from_a_temporary_file_that_is_removed(wine, packed_runtime):
    folder, exe = packed_runtime
    fake = FakeRuntime(wine, folder)
    before = temp_runtime_files(wine)
    wine.clear_records()
    assert wine.run(exe, f'"{wine.win(exe)}"', env=fake.env(0)) == 0
    (run,) = fake.runs()
    program = wine.unix(run["program"])
    assert program.parent == temp_folder(wine) and program.name.upper().startswith("KXC")
    assert program.suffix.lower() == ".exe"
    assert fake.switches() == [QUIET]
    assert not program.exists()
    assert temp_runtime_files(wine) == before
    assert len(wine.records()) == 1


# Elevation: the stub runs as its user, and only the runtime installer asks
# for an administrator, where Windows asks for consent (Vista and later).
# Wine has no UAC: its shell starts a program with "runas" like any other,
# and says in its trace which verb it was given.
def shell_starts(running):
    """(verb, program) of each ShellExecuteEx call of the run, from the
    arguments that Wine's shell traces; verb None for the default."""
    starts = []
    for verb, program in re.findall(r'SHELL_execute mask=\S+ hwnd=\S+ verb=(\(null\)|L"\w*") '
                                    r'file=L"((?:[^"\\]|\\.)*)"', running.stderr()):
        starts.append((None if verb == "(null)" else verb[2:-1],
                       program.encode().decode("unicode_escape")))
    return starts


@pytest.mark.parametrize("version, verb", [
    (None, "runas"),
    # Windows XP answers "runas" with a Run As dialog: the program checks
    # the rights itself there, and starts the installer as it is.
    ("winxp64" if X64 else "winxp", None),
], ids=["current", "xp"])
def test_only_the_runtime_installer_asks_for_elevation(wine, version, verb):
    exe_name = "elevate.exe"
    app_key = r"HKCU\Software\Wine\AppDefaults" + "\\" + exe_name
    setup = RuntimeSetup(wine, "elevate", exe_name=exe_name, RuntimeVersion=above_installed(wine),
                         RuntimeNT="fake.exe")
    if version:
        wine.reg_set(app_key, "Version", version)
    try:
        wine.clear_records()
        running = setup.start(env={**setup.fake.env(0), "WINEDEBUG": "-all,trace+exec"})
        assert running.finish() == 0
    finally:
        wine.reg("delete", app_key, "/f")
    fake = wine.win(setup.folder / "fake.exe")
    assert [(v, p.lower()) for v, p in shell_starts(running)] == [
        (verb, fake.lower()), (None, SYSTEM_MSIEXEC.lower())]
    assert setup.fake.switches() == [QUIET]
    assert len(wine.records()) == 1


def test_declined_elevation_fails_the_run_and_leaves_nothing(wine, packed_runtime):
    """A runtime installer that ends with ERROR_CANCELLED, as the shell
    returns it when the user declines the elevation and as an installer
    does whose own elevation was declined."""
    folder, exe = packed_runtime
    fake = FakeRuntime(wine, folder)
    before = temp_runtime_files(wine)
    wine.clear_records()
    running = wine.start(exe, f'"{wine.win(exe)}"', env=fake.env(1223))
    assert wait_for_box(running) == f"Install: {ADMIN_TEXT}"
    wine.ui("click", "Install", "1")
    assert running.finish() == 1
    assert len(fake.runs()) == 1 and wine.records() == []
    assert temp_runtime_files(wine) == before
    assert not wine.drive_c.joinpath(*WIZARD).exists()


def test_corrupt_payload_runtime_is_reported_and_removed(wine, packed_runtime):
    folder, exe = packed_runtime
    stream = next(s for s in inspect(exe)["streams"] if s["name"] == "runtime-nt")
    data = bytearray(exe.read_bytes())
    data[stream["offset"] + stream["size"] // 2] ^= 0x40
    exe.write_bytes(bytes(data))
    fake = FakeRuntime(wine, folder)
    before = temp_runtime_files(wine)
    wine.clear_records()
    running = wine.start(exe, f'"{wine.win(exe)}"', env=fake.env(0))
    box = wine.ui("dump", "Install")
    assert CRC_TEXT in box.stdout, box.stdout + box.stderr
    wine.ui("click", "Install", "1")
    assert running.finish() == 1
    assert fake.runs() == [] and wine.records() == []
    assert temp_runtime_files(wine) == before


# Downloads ----------------------------------------------------------------------------
@pytest.fixture
def server(runtime_server):
    runtime_server.clear()
    yield runtime_server
    runtime_server.clear()


def download_setup(wine, url, size, quiet=False):
    """A setup that downloads its runtime. Without a quiet switch in its
    CmdLine it shows the progress window, whose events the socket path
    needs; the quiet one has only WinInet's path."""
    return RuntimeSetup(wine, "download", RuntimeVersion=above_installed(wine), RuntimeNT=url,
                        RuntimeSizeNT=str(size), CmdLine="/qn" if quiet else "")


@pytest.mark.parametrize("quiet, sockets, pinned", [
    (False, False, "lower"), (True, False, None), (False, True, "upper")],
    ids=["window-pinned", "quiet", "sockets-pinned"])
def test_downloaded_runtime_runs_and_is_removed(wine, server, quiet, sockets, pinned):
    data = padded_fake(DOWNLOAD_MINIMUM + 4096)
    url = server.serve("/instmsi.exe", content(data))
    if pinned:
        url += pin(data, upper=pinned == "upper")
    setup = download_setup(wine, url, len(data), quiet)
    before = temp_runtime_files(wine)
    wine.clear_records()
    env = setup.fake.env(0)
    if sockets:
        # Without WinInet the socket client downloads, and the progress
        # window hands it the socket's events.
        env["WINEDLLOVERRIDES"] = BASE_OVERRIDES + ";msiexec.exe=n;wininet=d"
    assert setup.run(env=env) == 0
    (run,) = setup.fake.runs()
    program = wine.unix(run["program"])
    assert program.parent == temp_folder(wine) and program.name.upper().startswith("KXC")
    assert setup.fake.switches() == [QUIET]
    assert not program.exists()
    assert temp_runtime_files(wine) == before
    # The pin stays with the stub.
    assert [r.target for r in server.server.requests] == ["/instmsi.exe"]
    assert len(wine.records()) == 1


def test_download_and_resume_in_folders_outside_the_code_page(wine, server, restart_values,
                                                              unicode_temp):
    """setup.exe in a folder named in Greek, the temporary folder named in
    Cyrillic: the pinned runtime is downloaded there, checked and run, and
    the resume command names every path exactly."""
    data = padded_fake(DOWNLOAD_MINIMUM + 4096)
    url = server.serve("/instmsi.exe", content(data)) + pin(data)
    setup = RuntimeSetup(wine, "unicode-runtime", subdir="Ελληνικά", CmdLine="/qn",
                         RuntimeVersion=above_installed(wine), RuntimeNT=url,
                         RuntimeSizeNT=str(len(data)))
    running = setup.start(env=setup.fake.env(3010))
    wait_for_box(running)
    answer(wine, YES)
    assert running.finish() == 1641
    (run,) = setup.fake.runs()
    assert wine.unix(run["program"]).parent == unicode_temp
    assert not list(unicode_temp.iterdir())
    assert wine.reg_text(RUN_ONCE, RESUME_VALUE) == msiexec_arguments(setup)


@pytest.mark.parametrize("reply, detail", [
    (content(padded_fake(DOWNLOAD_MINIMUM - 1)), ""),
    (None, "404 Not Found"),
], ids=["short", "not-found"])
def test_failed_download_shows_the_internet_message(wine, server, reply, detail):
    url = server.serve("/instmsi.exe", reply) if reply else server.url("/missing.exe")
    setup = download_setup(wine, url, DOWNLOAD_MINIMUM + 4096)
    before = temp_runtime_files(wine)
    wine.clear_records()
    running = setup.start(env=setup.fake.env(0))
    box = wine.ui("dump", "Install")
    assert box.returncode == 0, box.stdout + box.stderr
    wine.ui("click", "Install", "1")
    assert running.finish() == 1
    # uidriver's text output doubles line ends: the words and their order count.
    assert static_text_from(box.stdout, INTERNET_TEXT).split() == \
        (INTERNET_TEXT + " " + detail).split()
    assert setup.fake.runs() == [] and wine.records() == []
    assert temp_runtime_files(wine) == before


@pytest.mark.parametrize("case", ["altered-download", "altered-packed", "altered-path",
                                  "malformed"])
def test_pinned_runtime_that_is_not_the_expected_file_is_refused(wine, server, request, case):
    """Altered bytes of the right length, downloaded or named by the
    settings file: nothing runs, the message says why, and a downloaded file
    is gone. A pin that is no SHA-256 is a corrupt installation: nothing is
    fetched."""
    data = padded_fake(DOWNLOAD_MINIMUM + 4096)
    altered = bytearray(data)
    altered[len(data) // 2] ^= 0x40
    url = server.serve("/instmsi.exe", content(bytes(altered)))
    required = above_installed(wine)
    if case == "altered-packed":
        folder, _ = request.getfixturevalue("packed_runtime")
        exe = pack(folder, {**PRODUCT, "RuntimeVersion": required, "RuntimeNT": url,
                            "RuntimeSizeNT": len(data)},
                   {"RuntimeNTSHA256": hashlib.sha256(data).hexdigest()})
        fake = FakeRuntime(wine, folder)
        start = lambda: wine.start(exe, f'"{wine.win(exe)}"', env=fake.env(0))
    else:
        source = {"altered-download": url + pin(data), "altered-path": "fake.exe" + pin(data),
                  "malformed": url + "#sha256=1234"}[case]
        download = {} if case == "altered-path" else {"RuntimeSizeNT": str(len(data))}
        setup = RuntimeSetup(wine, "pinned", RuntimeVersion=required, RuntimeNT=source,
                             CmdLine="", **download)
        fake = setup.fake
        start = lambda: setup.start(env=fake.env(0))
    before = temp_runtime_files(wine)
    wine.clear_records()
    running = start()
    assert wait_for_box(running) == "Install: " + (CORRUPT_TEXT if case == "malformed" else HASH_TEXT)
    wine.ui("click", "Install", "1")
    assert running.finish() == 1
    assert fake.runs() == [] and wine.records() == []
    assert temp_runtime_files(wine) == before
    downloaded = case in ("altered-download", "altered-packed")
    assert [r.target for r in server.server.requests] == (["/instmsi.exe"] if downloaded else [])
    if case == "altered-path":
        # The settings file's own file is not the stub's to delete.
        assert (setup.folder / "fake.exe").exists()


@pytest.mark.parametrize("source", ["payload", "download"])
def test_cancel_while_the_runtime_installer_runs_ends_the_run(wine, server, restart_values, source):
    """After a copy from the payload or a download the progress window stays
    up, with its Cancel, while the installer runs. Pressed then, Cancel ends
    the run once the installer has ended: no restart question, password or
    package. (The .NET installers run without Cancel, and a runtime named
    by path, or any in a quiet run, without the window.)"""
    extraction = wine.drive_c.joinpath(*WIZARD)
    if source == "payload":
        shutil.rmtree(extraction, ignore_errors=True)
        folder = wine.scratch("cancel-run")
        shutil.copy2(make_package(code=PRODUCT_CODE, product=PRODUCT_NAME), folder / "sample.msi")
        shutil.copy2(TESTBIN / "fake_runtime.exe", folder / "fake.exe")
        exe = pack(folder, {**PRODUCT, "RuntimeVersion": above_installed(wine), "RuntimeNT": "fake.exe",
                            "CmdLine": ""}, {"Password": "kest"})
        fake = FakeRuntime(wine, folder)

        def start(env):
            return wine.start(exe, f'"{wine.win(exe)}"', env=env)
    else:
        data = padded_fake(DOWNLOAD_MINIMUM + 4096)
        setup = download_setup(wine, server.serve("/instmsi.exe", content(data)), len(data))
        fake, start = setup.fake, lambda env: setup.start(env=env)
    before = temp_runtime_files(wine)
    wine.clear_records()
    running = start({**fake.env(3010), "KEST_RUNTIME_SLEEP": "3000"})
    wait_until(fake.runs, 30, "the runtime installer to start")
    wine.ui("click", PRODUCT_NAME, "2")
    assert running.finish() == 1
    assert len(fake.runs()) == 1 and wine.records() == []
    assert temp_runtime_files(wine) == before
    assert wine.reg_query(RUN_ONCE, RESUME_VALUE) is None
    assert not extraction.exists()


def test_dotnet_update_download_can_be_cancelled(wine, server):
    """The .NET runtime's run hides the bar and Cancel for its animation;
    the update's download shows them again."""
    data = padded_fake(DOWNLOAD_MINIMUM + 4096)
    setup = RuntimeSetup(wine, "dotnet-cancel", RuntimeVersion="99.0.0.0", CmdLine="",
                         RuntimeDotNet=server.serve("/dotnet.exe", content(data)),
                         RuntimeSizeDotNet=str(len(data)),
                         RuntimeDotNetUpdate=server.serve("/update.exe", trickle(len(data), 2048, 0.05)),
                         RuntimeSizeDotNetUpdate=str(len(data)))
    env = {**setup.fake.env(0), "WINEDLLOVERRIDES": BASE_OVERRIDES + ";msiexec.exe=n;wininet=d"}
    before = temp_runtime_files(wine)
    wine.clear_records()
    running = setup.start(env=env)
    wait_until(lambda: len(server.server.requests) == 2, 60, "the update's download to start")
    # The bar and a Cancel that can be pressed, not the animation.
    dump = wine.ui("dump", PRODUCT_NAME).stdout
    assert "class=msctls_progress32 id=1007 enabled=1 visible=1" in dump, dump
    assert "class=Button id=2 enabled=1 visible=1" in dump, dump
    assert "class=SysAnimate32 id=112 enabled=1 visible=0" in dump, dump
    wine.ui("click", PRODUCT_NAME, "2")
    assert running.finish() == 1
    assert len(setup.fake.runs()) == 1 and wine.records() == []
    assert temp_runtime_files(wine) == before


def test_cancelled_download_ends_the_run_and_removes_the_file(wine, server):
    total = DOWNLOAD_MINIMUM + 4096
    # Slow enough that the window is there long before the end.
    setup = download_setup(wine, server.serve("/slow.exe", trickle(total, 2048, 0.05)), total)
    before = temp_runtime_files(wine)
    wine.clear_records()
    running = setup.start(env=setup.fake.env(0))
    wait_until(lambda: server.server.requests, 30, "the download to start")
    wine.ui("click", PRODUCT_NAME, "2")
    assert running.finish() == 1
    assert running.message_boxes() == []
    assert setup.fake.runs() == [] and wine.records() == []
    assert temp_runtime_files(wine) == before
    request = server.server.requests[0]
    assert request.sent is not None and request.sent < total


def static_text_from(dump, start):
    """The whole text of the control whose text begins with start, over
    as many lines as it takes, from uidriver's dump."""
    text = dump[dump.index("text=" + start) + 5:]
    end = text.find("\ncontrol ")
    return text[:end] if end >= 0 else text


# The machine environment ------------------------------------------------------------------
def value_type(wine, key, name):
    r = wine.reg("query", key, "/v", name)
    for line in r.stdout.splitlines():
        parts = line.split()
        if parts and parts[0].lower() == name.lower():
            return parts[1], " ".join(parts[2:])
    return None


def test_empty_expandable_environment_values_become_plain(wine):
    names = ("KestEmptyOne", "KestEmptyTwo", "KestFull")
    try:
        wine.reg_set(ENVIRONMENT, names[0], "", "REG_EXPAND_SZ")
        wine.reg_set(ENVIRONMENT, names[1], "", "REG_EXPAND_SZ")
        wine.reg_set(ENVIRONMENT, names[2], r"%SystemRoot%\kest", "REG_EXPAND_SZ")
        # Made on every run on NT, whether a runtime step follows or not.
        setup = RuntimeSetup(wine, "environment")
        running = setup.start(env={"WINEDEBUG": "-all,+reg"})
        assert running.finish() == 0
        # Rewritten in place: deleted first, a value would be lost if the
        # write then failed. Wine's registry trace shows each deletion.
        deleted = [line for line in running.stderr().splitlines()
                   if "NtDeleteValueKey" in line and "KestEmpty" in line]
        assert deleted == []
        assert value_type(wine, ENVIRONMENT, names[0]) == ("REG_SZ", "")
        assert value_type(wine, ENVIRONMENT, names[1]) == ("REG_SZ", "")
        assert value_type(wine, ENVIRONMENT, names[2]) == ("REG_EXPAND_SZ", r"%SystemRoot%\kest")
    finally:
        for name in names:
            wine.reg_delete(ENVIRONMENT, name)


# VERSION.DLL --------------------------------------------------------------------------------
def planted_loads(record, program):
    if not record.exists():
        return []
    lines = record.read_text(errors="replace").splitlines()
    return [line for line in lines if line.lower().endswith("\\" + program)]


def test_version_query_loads_the_system_library_by_full_path(wine):
    folder = wine.scratch("version-query")
    shutil.copy2(TESTBIN / "version_query.exe", folder / "version_query.exe")
    shutil.copy2(TESTBIN / "planted_library.dll", folder / "version.dll")
    record = folder / "planted.txt"
    env = wine.environment(env={"WINEDLLOVERRIDES": BASE_OVERRIDES + ";version=n,b",
                                "KEST_PLANTED_RECORD": wine.win(record)})
    r = subprocess.run([WINE, str(folder / "version_query.exe")], cwd=folder, env=env,
                       capture_output=True, text=True, errors="replace", timeout=60)
    out = dict(line.split("=", 1) for line in r.stdout.splitlines() if "=" in line)
    ms, ls = installed_msi(wine)
    expected = f"0 {ms:08x} {ls:08x}"
    assert out["before"] == "-" and out["query"] == expected, r.stdout + r.stderr
    # Loaded for the query only.
    assert out["after"] == "-"
    # The control: a load by name takes the planted copy...
    assert out["byname"].lower() == wine.win(folder / "version.dll").lower()
    assert len(planted_loads(record, "version_query.exe")) == 1
    # ...while the query still reads the system's, even beside it.
    assert out["query-beside-planted"] == expected
    assert out["missing"] == "1 00000000 00000000"


def test_stub_loads_no_planted_version_library(wine):
    """Wine's own USER32 imports VERSION.DLL, so a planted copy loads into
    any program that imports USER32; the stub must add no load of its own,
    and its version query must still read the system's MSI.DLL."""
    ms, ls = installed_msi(wine)
    # One build older than installed: only a failed query would make it too old.
    setup = RuntimeSetup(wine, "planted", RuntimeVersion=version_text(ms, ((ls >> 16) - 1) << 16),
                         RuntimeNT="fake.exe")
    shutil.copy2(TESTBIN / "planted_library.dll", setup.folder / "version.dll")
    shutil.copy2(TESTBIN / "five_imports.exe", setup.folder / "five_imports.exe")
    record = setup.folder / "planted.txt"
    env = {"WINEDLLOVERRIDES": BASE_OVERRIDES + ";msiexec.exe=n;version=n,b",
           "KEST_PLANTED_RECORD": wine.win(record), **setup.fake.env(0)}
    baseline = setup.folder / "five_imports.exe"
    assert wine.run(baseline, f'"{wine.win(baseline)}"', env=env) == 0
    wine.clear_records()
    assert setup.run(env=env) == 0
    assert setup.fake.runs() == []
    assert len(wine.records()) == 1
    expected = len(planted_loads(record, "five_imports.exe"))
    assert len(planted_loads(record, "setup.exe")) == expected


# A real restart under Wine ---------------------------------------------------------------------
def test_restart_resumes_the_installation_with_msiexec(wine, restart_values):
    """The whole path as far as Wine goes: ExitWindowsEx(EWX_REBOOT) runs
    "wineboot --end-session", and wineboot runs the machine's RunOnce
    entries but never the user's. So the registered command is checked to
    stay for the next logon, then run by wineboot from the machine's
    RunOnce key, where it installs the package with the real msiexec."""
    code = guid("runtime-restart")
    setup = RuntimeSetup(wine, "restart", ProductCode=code, RuntimeVersion=above_installed(wine),
                         RuntimeNT="fake.exe")
    build_msi(setup.folder / "sample.msi", name="Kest Runtime Restart", product_code=code)
    try:
        running = setup.start(env=setup.fake.env(3010), record_msiexec=False)
        wait_for_box(running)
        answer(wine, YES)
        assert running.finish() == 1641
        command = wine.reg_query(RUN_ONCE, RESUME_VALUE)
        assert command == msiexec_arguments(setup)
        wait_for_wineboot(wine)
        r = subprocess_wine(wine, "wineboot", "-r")
        assert r.returncode == 0, r.stderr
        # Wine's restart leaves the user's RunOnce entries alone.
        assert wine.reg_query(RUN_ONCE, RESUME_VALUE) == command
        assert wine.product_value(code, "DisplayVersion") is None
        # The same command as a machine RunOnce entry, which wineboot runs.
        wine.reg_set(MACHINE_RUN_ONCE, RESUME_VALUE, command)
        r = subprocess_wine(wine, "wineboot", "-r", timeout=300)
        assert r.returncode == 0, r.stderr
        assert wine.reg_query(MACHINE_RUN_ONCE, RESUME_VALUE) is None
        assert wine.product_value(code, "DisplayVersion") == "1.0.0"
    finally:
        wine.reg_delete(MACHINE_RUN_ONCE, RESUME_VALUE)
        wine.msiexec("/x", code, "/qn")
    assert wine.product_value(code, "DisplayVersion") is None


def subprocess_wine(wine, *args, timeout=120):
    return subprocess.run([WINE, *args], env=wine.env, capture_output=True, text=True,
                          errors="replace", timeout=timeout)


# The 9x family ------------------------------------------------------------------------------------
@skip_unless("x86", "Wine reports the 9x family (AppDefaults Version=win98) to 32-bit programs "
                    "only")
@pytest.mark.parametrize("rewritten", [True, False], ids=["wininit-rewritten", "untouched"])
def test_wininit_rewritten_by_the_runtime_asks_for_a_restart_on_9x(wine, rewritten):
    exe_name = "kest98.exe"
    app_key = r"HKCU\Software\Wine\AppDefaults" + "\\" + exe_name
    wininit = wine.system32 / "WININIT.INI"
    saved = wininit.read_bytes() if wininit.exists() else None
    setup = RuntimeSetup(wine, "ninex", exe_name=exe_name, RuntimeVersion=above_installed(wine),
                         Runtime9X="fake.exe")
    wine.reg_set(app_key, "Version", "win98")
    try:
        wine.clear_records()
        running = setup.start(env=setup.fake.env(0, wininit=rewritten))
        if rewritten:
            assert wait_for_box(running) == f"{PRODUCT_NAME}: {REBOOT_TEXT}"
            answer(wine, NO)
            assert running.finish() == 1
            assert wine.records() == []
        else:
            assert running.finish() == 0
            assert len(wine.records()) == 1
        assert setup.fake.switches() == [QUIET]
    finally:
        wine.reg("delete", app_key, "/f")
        if saved is None:
            wininit.unlink(missing_ok=True)
        else:
            wininit.write_bytes(saved)
