"""Settings-file mode end to end: the msiexec command line and the launch."""
import shutil

import pytest

from packages import build_msi, guid
from stub import Setup

SYSTEM_MSIEXEC = r"C:\windows\system32\msiexec.exe"
PRODUCT = {"ProductCode": guid("launch"), "ProductVersion": "1.0.0", "ProductFile": "sample.msi"}


def arguments(record):
    """What msiexec received after its own program name."""
    line = record["cmdline"]
    if line.startswith('"'):
        line = line[line.index('"', 1) + 1:]
    else:
        line = line.split(" ", 1)[1] if " " in line else ""
    return line[1:] if line.startswith(" ") else line


def launch(wine, name, arguments_text="", subdir=None, cwd=None, env=None, **settings):
    setup = Setup(wine, name, subdir=subdir)
    setup.settings(**{**PRODUCT, **settings})
    wine.clear_records()
    code = setup.run(arguments_text, cwd=cwd, record_msiexec=True, env=env)
    return setup, code, wine.records()


def package_and_tail(wine, setup, package=None):
    package = package or wine.win(setup.folder / "sample.msi")
    return f'"{package}" KEST_SETUP_EXE_PATH="{wine.win(setup.exe)}"'


@pytest.mark.parametrize("stored, user, expected", [
    ("/qb", "", "/qb /I {pkg}"),
    ("/x", "", "/x {pkg}"),
    ("", "", "/I {pkg}"),
    ("/x", "/qn REBOOT=ReallySuppress", "/qn REBOOT=ReallySuppress /I {pkg}"),
    ("/qb", "foo", "/qb /I {pkg}"),                 # bare words are discarded
    ("/qb", "foo BAR=1", "foo BAR=1 /I {pkg}"),     # kept whole with an '='
    ("/qb", "/qn TARGET=%WINDIR%\\x", "/qn TARGET=C:\\windows\\x /I {pkg}"),
    ("%WINDIR%", "", "%WINDIR% /I {pkg}"),          # the stored text is not expanded
], ids=["stored", "action", "default", "user", "discarded", "kept", "expanded", "stored-raw-text"])
def test_argument_text(wine, stored, user, expected):
    setup, code, records = launch(wine, "args", user, CmdLine=stored)
    assert code == 0
    assert len(records) == 1
    assert records[0]["program"].lower() == SYSTEM_MSIEXEC.lower()
    pkg_tail = package_and_tail(wine, setup)
    pkg, tail = pkg_tail.split(" KEST_SETUP_EXE_PATH=")
    assert arguments(records[0]) == expected.format(pkg=pkg) + " KEST_SETUP_EXE_PATH=" + tail


def test_raw_forms_pass_text_through(wine):
    setup, code, records = launch(wine, "raw-user", '/*  /i "C:\\p q\\x.msi" /qn DIR=%WINDIR%',
                                  CmdLine="/qb")
    assert arguments(records[0]) == \
        f'/i "C:\\p q\\x.msi" /qn DIR=C:\\windows KEST_SETUP_EXE_PATH="{wine.win(setup.exe)}"'

    setup, code, records = launch(wine, "raw-stored", "", CmdLine="/* /fa %WINDIR%\\a.msi")
    assert arguments(records[0]) == f'/fa C:\\windows\\a.msi KEST_SETUP_EXE_PATH="{wine.win(setup.exe)}"'

    # A raw form with nothing after it starts nothing.
    setup, code, records = launch(wine, "raw-empty", "/*", CmdLine="/qb")
    assert code == 0 and records == []


def test_carried_transform_applies_to_named_package(wine):
    setup, code, records = launch(wine, "transformmsi", "", CmdLine="/qn",
                                  TransformMSI="C:\\Base.msi", ProductFile="fr.mst")
    assert arguments(records[0]) == (
        f'/qn /I "C:\\Base.msi" TRANSFORMS="{wine.win(setup.folder / "fr.mst")}"'
        f' KEST_SETUP_EXE_PATH="{wine.win(setup.exe)}"')


def test_http_package_in_any_case(wine):
    setup, code, records = launch(wine, "http", "", CmdLine="/qn",
                                  ProductFile="HTTP://packages.example/Sample.msi")
    assert arguments(records[0]) == \
        f'/qn /I "HTTP://packages.example/Sample.msi" KEST_SETUP_EXE_PATH="{wine.win(setup.exe)}"'


def test_program_path_with_blanks_and_working_directory(wine):
    setup, code, records = launch(wine, "blanks", "", subdir="My Setup Dir", cwd=None, CmdLine="/qn")
    assert code == 0
    assert arguments(records[0]) == "/qn /I " + package_and_tail(wine, setup)
    # msiexec starts in the program's own folder, whatever the caller's was.
    assert records[0]["cwd"].lower() == wine.win(setup.folder).lower()


def test_working_directory_is_the_programs_folder(wine):
    elsewhere = wine.scratch("elsewhere")
    setup, code, records = launch(wine, "cwd", "", cwd=elsewhere, CmdLine="/qn")
    assert records[0]["cwd"].lower() == wine.win(setup.folder).lower()


@pytest.mark.parametrize("exit_code", [1603, 3010, 1602])
def test_installer_exit_code_is_passed_on(wine, exit_code):
    # A deployment tool reads the setup program's code: Windows Installer's
    # own failure, cancel or restart code must reach it.
    setup, code, records = launch(wine, f"exit{exit_code}", "", CmdLine="/qn",
                                  env={"KEST_MSIEXEC_EXIT": str(exit_code)})
    assert len(records) == 1
    assert code == exit_code


def test_planted_msiexec_is_never_started(wine):
    """A file named msiexec.exe beside setup.exe or in the working directory
    (a Downloads folder, a share) must not run instead of Windows Installer."""
    setup = Setup(wine, "planted").settings(**PRODUCT, CmdLine="/qn")
    elsewhere = wine.scratch("planted-cwd")
    for folder in (setup.folder, elsewhere):
        shutil.copy2(wine.tools / "msiexec.exe", folder / "msiexec.exe")
        shutil.copy2(wine.tools / "msiexec.exe", folder / "MSIEXEC.EXE.exe")
    wine.clear_records()
    assert setup.run(cwd=elsewhere, record_msiexec=True) == 0
    programs = [r["program"].lower() for r in wine.records()]
    assert programs == [SYSTEM_MSIEXEC.lower()]


def test_installer_that_cannot_start_is_reported(wine):
    """An msiexec.exe that is no program (damaged, or of another
    architecture) installs nothing: the run says so and ends with 1, and
    the shell shows no box of its own, which a quiet run could not answer."""
    setup = Setup(wine, "broken-msiexec").settings(**PRODUCT, CmdLine="/qn")
    system_msiexec = wine.system32 / "msiexec.exe"
    recording = system_msiexec.read_bytes()
    try:
        system_msiexec.write_bytes(b"MZ not a program at all" + bytes(200))
        running = setup.start(record_msiexec=True)
        box = wine.ui("dump", "Install")
        assert "Corrupt installation detected." in box.stdout, box.stdout + box.stderr
        wine.ui("click", "Install", "1")
        assert running.finish() == 1
    finally:
        system_msiexec.write_bytes(recording)




def test_real_install_beside_setup(wine):
    setup = Setup(wine, "real")
    code = build_msi(setup.folder / "sample.msi", name="Kest Real Sample", version="1.2.3")
    setup.settings(ProductCode=code, ProductVersion="1.2.3", ProductFile="sample.msi", CmdLine="/qn")
    try:
        assert setup.run(timeout=180, record_msiexec=False) == 0
        installed = wine.program_files_x86() / "Kest Real Sample" / "readme.txt"
        assert installed.read_text().startswith("Installed by a Kest test.")
        assert wine.product_value(code, "DisplayVersion") == "1.2.3"
    finally:
        wine.msiexec("/x", code, "/qn")
    assert wine.product_value(code, "DisplayVersion") is None


@pytest.mark.parametrize("language_file, expected", [
    ("de.mst", '/qn TRANSFORMS="de.mst" /I "{folder}\\sample.msi"'),
    ("de.msi", '/qn /I "{folder}\\de.msi"'),
], ids=["transform", "replacement-package"])
def test_chosen_language_file(wine, language_file, expected):
    setup = Setup(wine, "language-file")
    setup.settings(**PRODUCT, CmdLine="/qn", Language1="Deutsch,1031", LanguageFile1=language_file)
    wine.clear_records()
    # The German user's language picks entry 1 without showing the dialog.
    assert setup.run(lang="de_DE.UTF-8") == 0
    (record,) = wine.records()
    assert arguments(record) == (expected.format(folder=wine.win(setup.folder))
                                 + f' KEST_SETUP_EXE_PATH="{wine.win(setup.exe)}"')


def test_real_install_with_a_language_transform_beside_setup(wine):
    from transform import make_transform
    setup = Setup(wine, "real-transform")
    code = build_msi(setup.folder / "sample.msi", name="Kest Sample Real", version="1.0.0",
                     seed="real-transform")
    make_transform(setup.folder / "sample.msi", setup.folder / "de.mst",
                   {"ProductName": "Kest Beispiel Echt"})
    setup.settings(ProductCode=code, ProductVersion="1.0.0", ProductFile="sample.msi",
                   CmdLine="/qn", Language1="Deutsch,1031", LanguageFile1="de.mst")
    try:
        assert setup.run(timeout=180, lang="de_DE.UTF-8", record_msiexec=False) == 0
        assert wine.product_value(code, "DisplayName") == "Kest Beispiel Echt"
    finally:
        wine.msiexec("/x", code, "/qn")


# Folders and arguments that the ANSI code page cannot spell: on Windows NT
# the stub reads and hands on every path and argument in UTF-16.
UNICODE_FOLDERS = ["Приложение", "Ελληνικά", "安装程序", "Papka \U0001F600"]
UNICODE_ARGUMENT = 'INSTALLDIR="C:\\Программы\\Демо"'


@pytest.mark.parametrize("folder", UNICODE_FOLDERS, ids=["cyrillic", "greek", "cjk", "astral"])
def test_folders_and_arguments_outside_the_ansi_code_page(wine, folder):
    setup, code, records = launch(wine, "unicode", UNICODE_ARGUMENT + " /qn", subdir=folder,
                                  CmdLine="/qb")
    assert code == 0
    (record,) = records
    assert record["program"].lower() == SYSTEM_MSIEXEC.lower()
    assert arguments(record) == f"{UNICODE_ARGUMENT} /qn /I {package_and_tail(wine, setup)}"
    assert record["cwd"] == wine.win(setup.folder)
