"""The password dialog, run on its own by uitest."""
from uitest import UiTest, layout_faults, parse_dump

PROMPT = ("This installation is password protected. Enter the installation password into the "
          "field below.")


def test_enter_ends_with_ok_and_the_typed_text(wine):
    ui = UiTest(wine, "password-ok").start("password")
    dump = wine.ui("dump", "Enter Password")
    caption, controls = parse_dump(dump.stdout)
    assert caption == "Enter Password"
    assert [(c["class"], c["id"], c["text"]) for c in controls] == [
        ("Static", 0xFFFF, PROMPT), ("Static", 0xFFFF, "Password:"), ("Edit", 1005, ""),
        ("Button", 1, "OK"), ("Button", 2, "Cancel")]
    wine.ui("settext", "Enter Password", "1005", "Open Sesame 42")
    wine.ui("key", "Enter Password", "1005", "enter")
    result = ui.finish(30)
    assert (result["result"], result["password"]) == ("1", "Open Sesame 42"), result["output"]


def test_escape_ends_with_cancel_and_keeps_the_text(wine):
    ui = UiTest(wine, "password-cancel").start("password")
    wine.ui("settext", "Enter Password", "1005", "typed")
    wine.ui("key", "Enter Password", "1005", "escape")
    result = ui.finish(30)
    assert (result["result"], result["password"]) == ("2", "typed"), result["output"]


def test_long_password_is_cut_to_255_characters(wine):
    ui = UiTest(wine, "password-long").start("password")
    wine.ui("settext", "Enter Password", "1005", "x" * 300)
    wine.ui("click", "Enter Password", "1")
    result = ui.finish(30)
    assert result["password"] == "x" * 255


def test_dialog_layout_holds_at_any_resolution(wine, dpi):
    ui = UiTest(wine, "password-dpi").start("password")
    faults = layout_faults(wine, "Enter Password")
    wine.ui("click", "Enter Password", "2")
    result = ui.finish(30)
    assert faults == []
    # Drawn at the screen's resolution, as the manifest asks.
    assert (result["dpi"], result["aware"]) == (str(dpi), "1"), result["output"]
