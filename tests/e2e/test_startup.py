"""Start-up, the settings file and the early ends, under Wine."""
import pytest

from stub import Setup
from winehost import WINE

RUN_KEY = r"HKCU\SOFTWARE\Microsoft\Windows\CurrentVersion\Run"
PRODUCT = {"ProductCode": "{11111111-2222-3333-4444-555555555555}", "ProductVersion": "1.0.0"}


@pytest.mark.parametrize("settings", [
    {},
    {"ProductCode": PRODUCT["ProductCode"]},
    {"ProductVersion": "1.0.0"},
], ids=["no-file", "no-version", "no-code"])
def test_missing_product_identity_ends_silently(wine, settings):
    setup = Setup(wine, "identity")
    if settings:
        setup.settings(**settings)
    wine.clear_records()
    wine.reg_set(RUN_KEY, "KestStubReboot", "x")
    # A message box would keep the process alive until the time-out.
    assert setup.run("/qb", timeout=30, record_msiexec=True) == 1
    assert wine.records() == []
    assert wine.reg_query(RUN_KEY, "KestStubReboot") == "x"
    wine.reg_delete(RUN_KEY, "KestStubReboot")


def test_resume_value_under_run_is_removed(wine):
    setup = Setup(wine, "resume").settings(**PRODUCT)
    wine.reg_set(RUN_KEY, "KestStubReboot", "MSIEXEC /i x.msi")
    wine.reg_set(RUN_KEY, "Other", "keep")
    assert setup.run(timeout=30) == 0
    assert wine.reg_query(RUN_KEY, "KestStubReboot") is None
    assert wine.reg_query(RUN_KEY, "Other") == "keep"
    wine.reg_delete(RUN_KEY, "Other")


@pytest.mark.parametrize("exe_name, subdir", [
    ("setup", "my.dir"),           # no extension: ".ini" is appended
    ("setup.exe", "my.dir"),
    ("my.setup.exe", "dir with blank"),
])
def test_settings_file_sits_beside_the_program(wine, exe_name, subdir):
    setup = Setup(wine, "inipath", exe_name=exe_name, subdir=subdir).settings(**PRODUCT)
    wine.reg_set(RUN_KEY, "KestStubReboot", "x")
    assert setup.run(timeout=30) == 0
    # Only a run that found its settings reaches the clean-up of the value.
    assert wine.reg_query(RUN_KEY, "KestStubReboot") is None


def test_shared_routines_against_the_real_api(wine):
    folder = wine.scratch("routines")
    (folder / "exitwith.exe").write_bytes((wine.tools / "exitwith.exe").read_bytes())
    r = wine.tool("routines_test.exe", wine.win(folder))
    assert r.returncode == 0, r.stdout + r.stderr
    assert "0 failed" in r.stdout


def test_find_char_on_double_byte_text(wine):
    folder = wine.scratch("routines-932")
    (folder / "exitwith.exe").write_bytes((wine.tools / "exitwith.exe").read_bytes())
    r = wine.tool("routines_test.exe", wine.win(folder), lang="ja_JP.UTF-8")
    assert r.returncode == 0, r.stdout + r.stderr
    assert "checked code page 932" in r.stdout


def test_run_and_wait_reports_a_program_that_cannot_start(wine):
    folder = wine.scratch("missing")
    # Not started, told apart from a run that ended with 0, and no box of
    # the shell's waits for an answer: the program ends by itself.
    r = wine.tool("routines_test.exe", "missing", wine.win(folder / "missing.exe"))
    assert "RunAndWait=-1" in r.stdout, r.stdout + r.stderr
