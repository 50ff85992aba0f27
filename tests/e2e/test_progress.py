"""The progress window, run on its own by uitest."""
import subprocess

import pytest

from uitest import UiTest, layout_faults, parse_dump
from winehost import wait_until

TEXT = ("The Kest Installation Wizard is extracting files to your local computer, "
        "please wait...")


def test_window_shows_product_name_and_cancel_sets_the_flag(wine):
    ui = UiTest(wine, "progress", ProductName="Progress Product").start("progress")
    dump = wine.ui("dump", "Progress Product")
    caption, controls = parse_dump(dump.stdout)
    assert caption == "Progress Product", dump.stdout + dump.stderr
    assert [(c["class"], c["id"], c["text"], c["visible"], c["enabled"]) for c in controls] == [
        ("Static", 0xFFFF, TEXT, True, True),
        ("msctls_progress32", 1007, "Progress1", True, True),
        ("Button", 2, "Cancel", True, True),
        ("SysAnimate32", 112, "", False, True)]
    assert controls[1]["position"] == 0
    wine.ui("click", "Progress Product", "2")
    result = ui.finish(30)
    # The window and its button stay until the program closes the window;
    # a second close does nothing.
    assert (result["cancel"], result["open"], result["enabled"], result["closed"]) == \
        ("1", "1", "1", "1"), result["output"]
    assert result["exit"] == 0


def test_window_layout_holds_at_any_resolution(wine, dpi):
    ui = UiTest(wine, "progress-dpi", ProductName="Progress Dpi").start("progress")
    faults = layout_faults(wine, "Progress Dpi")
    wine.ui("click", "Progress Dpi", "2")
    assert ui.finish(30)["cancel"] == "1"
    assert faults == []


def test_quiet_mode_creates_no_window(wine):
    ui = UiTest(wine, "progress-quiet", ProductName="Progress Quiet", CmdLine="/qn")
    result = ui.run("progress", timeout=30)
    assert result["window"] == "0", result["output"]


@pytest.mark.parametrize("total, done, position", [
    (1_000_000, 250_000, 25),
    (1_000_000, 1_000_000, 100),
    (10, 3, 30),
    (9, 5, 7),  # under 10 bytes nothing is sent: the marker 7 stays
])
def test_download_timer_moves_the_bar(wine, total, done, position):
    ui = UiTest(wine, "progress-timer", ProductName="Progress Timer")
    result = ui.run("timer", total, done, timeout=30)
    assert (result["ticks"], result["position"]) == ("2", str(position)), result["output"]


def capture(wine, rect):
    """The screen pixels inside rect (left, top, right, bottom)."""
    left, top, right, bottom = rect
    shot = subprocess.run(["xwd", "-root", "-silent", "-display", wine.display.name],
                          capture_output=True, check=True).stdout
    return subprocess.run(["convert", "xwd:-", "-crop", f"{right - left}x{bottom - top}+{left}+{top}",
                           "+repage", "rgb:-"], input=shot, capture_output=True, check=True).stdout


def test_animation_mode_plays_the_clip(wine):
    ui = UiTest(wine, "progress-anim", ProductName="Progress Anim").start("animation")
    dump = wine.ui("dump", "Progress Anim")
    _, controls = parse_dump(dump.stdout)
    shown = {c["id"]: (c["visible"], c["enabled"]) for c in controls}
    assert shown[1007] == (False, True)   # the bar is hidden
    assert shown[112] == (True, True)     # the clip is shown
    assert shown[2] == (True, False)      # Cancel is disabled
    # Playing: the clip's frames follow one another on the screen.
    rect = tuple(map(int, wine.ui("rect", "Progress Anim", "112").stdout.split()))
    first = capture(wine, rect)
    assert len(set(first)) > 1, "the clip is not drawn"
    wait_until(lambda: capture(wine, rect) != first, 10, "the next frame of the clip")
    wine.ui("close", "Progress Anim")
    result = ui.finish(30)
    # The clip went to one temporary file, written once; closing the window
    # deleted it and unloaded the video library.
    assert result["video"] == "1" and result["size"] == result["clip"], result["output"]
    assert (result["same"], result["rewritten"]) == ("1", "0")
    assert (result["deleted"], result["unloaded"], result["cancel"]) == ("1", "1", "0")
    assert result["file"].upper().endswith(".TMP") and "\\KXC" in result["file"].upper()
