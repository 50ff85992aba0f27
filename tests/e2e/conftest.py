import os
import shutil
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).parent))
from winehost import ARCH_LINE, Display, Wine, STUB, TESTBIN  # noqa: E402


def pytest_report_header(config):
    return ARCH_LINE


@pytest.fixture(scope="session")
def wine():
    if not STUB.exists() or not (TESTBIN / "launch.exe").exists():
        pytest.exit("build the stub and the test programs first (make)", 2)
    display = Display()
    host = Wine(display)
    yield host
    host.close()
    display.close()


@pytest.fixture(params=[96, 120, 144, 192], ids=lambda dpi: f"{dpi}dpi")
def dpi(wine, request):
    """The screen's resolution for one test, as Wine reads it at each
    program's start (LogPixels); the prefix's own setting comes back after."""
    desktop = r"HKCU\Control Panel\Desktop"
    wine.reg_set(desktop, "LogPixels", str(request.param), "REG_DWORD")
    yield request.param
    wine.reg_delete(desktop, "LogPixels")


@pytest.fixture(scope="module")
def runtime_server():
    """A loopback server for runtime installers, on port 80 of its own address."""
    if os.geteuid() != 0:
        pytest.skip("the runtime server listens on port 80, which needs root")
    from runtime_fixtures import RuntimeServer
    server = RuntimeServer()
    yield server
    server.close()


@pytest.fixture
def unicode_temp(wine):
    """The user's temporary folder named in Cyrillic, and a Common Files
    folder that cannot be made (a file stands where it would go): a packed
    installer extracts into the temporary folder."""
    import getpass
    environment = r"HKCU\Environment"
    current = r"HKLM\Software\Microsoft\Windows\CurrentVersion"
    temp = wine.drive_c / "users" / getpass.getuser() / "Временные файлы"
    temp.mkdir(parents=True, exist_ok=True)
    (wine.drive_c / "blocker").write_bytes(b"")
    saved = {name: wine.reg_text(environment, name) for name in ("TEMP", "TMP")}
    common = wine.reg_text(current, "CommonFilesDir")
    for name in saved:
        wine.reg_set(environment, name, wine.win(temp))
    wine.reg_set(current, "CommonFilesDir", r"C:\blocker\Common Files")
    yield temp
    for name, value in saved.items():
        if value is None:
            wine.reg_delete(environment, name)
        else:
            wine.reg_set(environment, name, value, "REG_EXPAND_SZ")
    wine.reg_set(current, "CommonFilesDir", common)
    (wine.drive_c / "blocker").unlink()
    shutil.rmtree(temp, ignore_errors=True)
