#!/usr/bin/python3
"""Installs a sample package the way a user would: setup.exe beside its
setup.ini and the .msi, run under Wine in a private prefix. Prints what
msiexec was given, what got installed, and how to remove it again."""
import os
import shutil
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
from packages import build_msi, guid  # noqa: E402
from stub import write_ini  # noqa: E402
from winehost import BUILD, STUB, Display, Wine  # noqa: E402

PRODUCT = "Kest Demo"
VERSION = "1.0.0"
UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"


def main():
    display = Display() if not os.environ.get("DISPLAY") else None
    if display is None:
        class Existing:
            name = os.environ["DISPLAY"]
            def close(self):
                pass
        display = Existing()
    wine = Wine(display, prefix=BUILD / "demo-prefix")
    try:
        folder = wine.drive_c / "KestDemo"
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        code = build_msi(folder / "KestDemo.msi", name=PRODUCT, version=VERSION,
                         product_code=guid("demo"), seed="demo",
                         file_text="Kest Demo was installed by Kest.\r\n")
        shutil.copy2(STUB, folder / "setup.exe")
        write_ini(folder / "setup.ini", {
            "ProductName": PRODUCT, "ProductCode": code, "ProductVersion": VERSION,
            "ProductFile": "KestDemo.msi", "CmdLine": "/qn"})
        wine.msiexec("/x", code, "/qn")  # a clean start if the demo ran before

        setup = folder / "setup.exe"
        print(f"kest demo: {wine.win(folder)} holds setup.exe, setup.ini and KestDemo.msi")
        # A first run against the recording msiexec shows what Windows
        # Installer is handed; the second run installs for real.
        wine.clear_records()
        wine.run(setup, f'"{wine.win(setup)}"', record_msiexec=True)
        for record in wine.records():
            print(f"kest demo: setup.exe runs {record['cmdline']}")
            print(f"kest demo:   in {record['cwd']}")
        result = wine.run(setup, f'"{wine.win(setup)}"', timeout=300, record_msiexec=False)
        print(f"kest demo: setup.exe ended with exit code {result}")

        key = UNINSTALL + "\\" + code
        name = wine.reg_query(key, "DisplayName")
        version = wine.reg_query(key, "DisplayVersion")
        if not name:
            print("kest demo: FAILED: the product is not registered as installed")
            return 1
        print(f"kest demo: installed: {name} {version} (product code {code})")
        target = wine.drive_c / "Program Files" / PRODUCT
        for f in sorted(target.rglob("*")):
            print(f"kest demo:   {wine.win(f)} ({f.stat().st_size} bytes)")
        print("kest demo: to uninstall it:")
        print(f"kest demo:   WINEPREFIX={wine.prefix} wine msiexec /x {code}")
        return 0
    finally:
        wine.close()
        display.close()


if __name__ == "__main__":
    sys.exit(main())
