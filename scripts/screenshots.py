#!/usr/bin/env python3
"""Takes pictures of the stub's windows as users see them under Wine.

    screenshots.py OUTDIR

Writes language-dialog.png, password-dialog.png, progress-window.png and
progress-animation.png, and the first three again at 144 and 192 DPI
(language-dialog-144dpi.png, ...). Needs the build (make) and Xvfb, xwd and
convert. For the pictures Wine draws the window frames itself, since no
window manager runs on the private display; the prefix settings are
restored after.
"""
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))
from stub import Setup  # noqa: E402
from uitest import PRODUCT, UiTest  # noqa: E402
from winehost import Display, Wine, wait_until  # noqa: E402

X11_KEY = r"HKCU\Software\Wine\X11 Driver"
DESKTOP_KEY = r"HKCU\Control Panel\Desktop"
PRODUCT_NAME = "Example Notes 2.4"
LANGUAGES = {
    "KestInitLangDefault": "English,1033",
    "Language1": "Deutsch,1031;2055;3079",
    "Language2": "Fran\xe7ais;1036;3084",
    "Language3": "Espa\xf1ol,1034;3082",
    "Language4": "Italiano,1040",
    "Language5": "Nederlands,1043",
    "KestInitLangAlwaysPrompt": "1",
}


def shoot(wine, caption, out):
    """Saves the window captioned caption, frame included, as a PNG."""
    assert wine.ui("wait", caption).returncode == 0, f"no window {caption!r}"
    left, top, right, bottom = map(int, wine.ui("rect", caption, "0").stdout.split())
    screen = subprocess.run(["xwd", "-root", "-silent", "-display", wine.display.name],
                            capture_output=True, check=True).stdout
    subprocess.run(["convert", "xwd:-", "-crop", f"{right - left}x{bottom - top}+{left}+{top}",
                    "+repage", str(out)], input=screen, check=True)
    print(f"wrote {out}")


def language_dialog(wine, out):
    setup = Setup(wine, "shot-language").settings(**PRODUCT, ProductName=PRODUCT_NAME, **LANGUAGES)
    running = setup.start(lang="en_US.UTF-8")
    wine.ui("select", PRODUCT_NAME, "1008", "1")
    shoot(wine, PRODUCT_NAME, out)
    wine.ui("click", PRODUCT_NAME, "2")
    running.finish(30)


def password_dialog(wine, out):
    ui = UiTest(wine, "shot-password", ProductName=PRODUCT_NAME).start("password")
    wine.ui("settext", "Enter Password", "1005", "tulip-42")
    shoot(wine, "Enter Password", out)
    wine.ui("click", "Enter Password", "2")
    ui.finish(30)


def progress_window(wine, out):
    ui = UiTest(wine, "shot-progress", ProductName=PRODUCT_NAME)
    ui.start("timer", 1_000_000, 420_000, "hold")
    # The bar stands where the timer put it once the program says so.
    line = ui.process.stdout.readline()
    assert "position=42" in line, line
    shoot(wine, PRODUCT_NAME, out)
    wine.ui("close", PRODUCT_NAME)
    ui.finish(30)


def progress_animation(wine, out):
    ui = UiTest(wine, "shot-animation", ProductName=PRODUCT_NAME).start("animation")
    wait_until(lambda: "video=" in ui.process.stdout.readline(), 30, "the animation")
    shoot(wine, PRODUCT_NAME, out)
    wine.ui("close", PRODUCT_NAME)
    ui.finish(30)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: screenshots.py OUTDIR")
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    display = Display()
    wine = Wine(display)
    before = wine.reg_query(X11_KEY, "Decorated")
    try:
        wine.reg_set(X11_KEY, "Decorated", "N")
        language_dialog(wine, out / "language-dialog.png")
        password_dialog(wine, out / "password-dialog.png")
        progress_window(wine, out / "progress-window.png")
        progress_animation(wine, out / "progress-animation.png")
        # The stub declares itself aware of the resolution: the windows
        # grow with their font, drawn at the screen's own resolution.
        for dpi in (144, 192):
            wine.reg_set(DESKTOP_KEY, "LogPixels", str(dpi), "REG_DWORD")
            language_dialog(wine, out / f"language-dialog-{dpi}dpi.png")
            password_dialog(wine, out / f"password-dialog-{dpi}dpi.png")
            progress_window(wine, out / f"progress-window-{dpi}dpi.png")
    finally:
        wine.reg_delete(DESKTOP_KEY, "LogPixels")
        if before is None:
            wine.reg_delete(X11_KEY, "Decorated")
        else:
            wine.reg_set(X11_KEY, "Decorated", before)
        wine.close()
        display.close()


if __name__ == "__main__":
    main()
