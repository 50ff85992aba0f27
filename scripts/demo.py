#!/usr/bin/python3
"""Installs a sample package the way users would, under Wine in a private
prefix: first as setup.exe beside its setup.ini and the .msi, then as one
packed setup.exe carrying a newer version, a German transform and a
password, which removes the first version before it installs. Prints what
Windows Installer was given, what got installed, and how to remove it."""
import os
import shutil
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
from packages import build_msi, guid  # noqa: E402
from packer import KESTPACK  # noqa: E402
from stub import write_ini  # noqa: E402
from transform import make_transform  # noqa: E402
from winehost import ARCH, ARCH_LINE, BUILD, STUB, WINE, Display, Wine  # noqa: E402

PRODUCT = "Kest Demo"
CODE = guid("demo")
PASSWORD = "kest"


def say(text=""):
    print(f"kest demo: {text}" if text else "", flush=True)


class ExistingDisplay:
    name = os.environ.get("DISPLAY")

    def close(self):
        pass


def show_install(wine):
    name, version = wine.product_value(CODE, "DisplayName"), wine.product_value(CODE, "DisplayVersion")
    if not name:
        say("FAILED: the product is not registered as installed")
        return False
    say(f"installed: {name} {version} (product code {CODE})")
    for f in sorted((wine.program_files_x86() / PRODUCT).rglob("*")):
        say(f"  {wine.win(f)} ({f.stat().st_size} bytes)")
    return True


def dry_run(wine, setup, answer=None, **kw):
    """A run against the recording msiexec: what Windows Installer is handed."""
    wine.clear_records()
    running = wine.start(setup, f'"{wine.win(setup)}"', record_msiexec=True, **kw)
    if answer:
        answer()
    running.finish(timeout=300)
    for record in wine.records():
        say(f"setup.exe runs {record['cmdline']}")
        say(f"  in {record['cwd']}")


def settings_file_install(wine):
    folder = wine.drive_c / "KestDemo"
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    build_msi(folder / "KestDemo.msi", name=PRODUCT, version="1.0.0", product_code=CODE,
              seed="demo", file_text="Kest Demo 1.0.0 was installed by Kest.\r\n")
    shutil.copy2(STUB, folder / "setup.exe")
    write_ini(folder / "setup.ini", {"ProductName": PRODUCT, "ProductCode": CODE,
                                      "ProductVersion": "1.0.0", "ProductFile": "KestDemo.msi",
                                      "CmdLine": "/qn"})
    setup = folder / "setup.exe"
    say(f"1. {wine.win(folder)} holds setup.exe, setup.ini and KestDemo.msi (version 1.0.0)")
    dry_run(wine, setup)
    code = wine.run(setup, f'"{wine.win(setup)}"', timeout=300, record_msiexec=False)
    say(f"setup.exe ended with exit code {code}")
    return show_install(wine)


def packed_install(wine):
    folder = wine.drive_c / "KestDemoPacked"
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    build_msi(folder / "KestDemo.msi", name=PRODUCT, version="1.1.0", product_code=CODE,
              seed="demo", file_text="Kest Demo 1.1.0 was installed by Kest.\r\n")
    make_transform(folder / "KestDemo.msi", folder / "de.mst",
                   {"ProductName": "Kest Demo (Deutsch)", "ProductLanguage": "1031"})
    write_ini(folder / "pack.ini", {
        "ProductName": PRODUCT, "ProductCode": CODE, "ProductVersion": "1.1.0",
        "ProductFile": "KestDemo.msi", "CmdLine": "/qn",
        "KestInitLangDefault": "English,1033", "Language1": "Deutsch,1031",
        "LanguageFile1": "de.mst"})
    with open(folder / "pack.ini", "ab") as f:
        f.write(f"[KestPack]\r\nPassword={PASSWORD}\r\n".encode())
    say()
    say(f"2. kestpack packs version 1.1.0, a German transform and the password '{PASSWORD}'")
    r = subprocess.run([str(KESTPACK), "build", str(folder / "pack.ini"), "--arch", ARCH],
                       capture_output=True, text=True)
    for line in (r.stdout + r.stderr).splitlines():
        say(f"  kestpack: {line}")
    if r.returncode != 0:
        return False
    setup = folder / "setup.exe"
    for f in ("KestDemo.msi", "de.mst", "pack.ini"):
        (folder / f).unlink()
    say(f"{wine.win(folder)} now holds only setup.exe ({setup.stat().st_size} bytes)")

    def type_password():
        wine.ui("settext", "Enter Password", "1005", PASSWORD)
        wine.ui("submit", "Enter Password", "1")
        say(f"the password dialog came up; the demo typed '{PASSWORD}'")

    def answer_yes():
        type_password()
        box = wine.ui("dump", PRODUCT)
        question = [ln for ln in box.stdout.splitlines() if "already installed" in ln]
        if question:
            say("asked: " + question[0].split("text=", 1)[1].split("\r")[0].strip())
            say("the demo answers Yes")
        wine.ui("click", PRODUCT, "6")

    say("a German user runs it (the language list matches 1031, so no language dialog):")
    running = wine.start(setup, f'"{wine.win(setup)}"', record_msiexec=False, lang="de_DE.UTF-8")
    answer_yes()
    say(f"setup.exe ended with exit code {running.finish(timeout=300)}")
    installed = show_install(wine)
    # With the versions now equal nothing is asked, and a run against the
    # recording msiexec shows what Windows Installer was handed.
    dry_run(wine, setup, answer=type_password, lang="de_DE.UTF-8")
    return installed


def main():
    display = ExistingDisplay() if os.environ.get("DISPLAY") else Display()
    say(ARCH_LINE.replace("e2e: ", "", 1))
    wine = Wine(display, prefix=BUILD / ("demo-prefix64" if ARCH == "x64" else "demo-prefix"))
    try:
        wine.msiexec("/x", CODE, "/qn")  # a clean start if the demo ran before
        if not settings_file_install(wine) or not packed_install(wine):
            return 1
        say("to uninstall it:")
        say(f"  WINEPREFIX={wine.prefix} {WINE} msiexec /x {CODE}")
        return 0
    finally:
        wine.close()
        display.close()


if __name__ == "__main__":
    sys.exit(main())
