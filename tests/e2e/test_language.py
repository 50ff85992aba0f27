"""The language dialog: in the stub's start-up, and on its own in uitest."""
import re

import pytest

from stub import Setup
from uitest import PRODUCT, UiTest, layout_faults, parse_dump

RUN_KEY = r"HKCU\SOFTWARE\Microsoft\Windows\CurrentVersion\Run"
GERMAN, JAPANESE = "de_DE.UTF-8", "ja_JP.UTF-8"
DEFAULT_PROMPT = ("This installation can be displayed in multiple languages. Please select the "
                  "language to display from the list below.")
LIST = {"KestInitLangDefault": "English,1033", "Language1": "Deutsch,1031;2055",
        "Language2": "Japanese;1041"}


def mark_run_key(wine):
    """A resume value that only a run going past the language choice removes."""
    wine.reg_set(RUN_KEY, "KestStubReboot", "x")


def run_key_marked(wine):
    return wine.reg_query(RUN_KEY, "KestStubReboot") == "x"


def test_dialog_shows_product_texts_and_list(wine):
    setup = Setup(wine, "lang-shown").settings(**PRODUCT, ProductName="Lang Shown 1",
                                               KestInitLangDefault="English,1033",
                                               Language1="Deutsch,1031", Language2="French;1036")
    wine.clear_records()
    mark_run_key(wine)
    running = setup.start(lang=JAPANESE, record_msiexec=True)
    dump = wine.ui("dump", "Lang Shown 1")
    caption, controls = parse_dump(dump.stdout)
    assert caption == "Lang Shown 1", dump.stdout + dump.stderr
    assert [(c["class"], c["id"], c["text"]) for c in controls] == [
        ("Static", 0xFFFF, DEFAULT_PROMPT), ("ListBox", 1008, ""),
        ("Button", 1, "OK"), ("Button", 2, "Cancel")]
    assert controls[1]["items"] == ["English", "Deutsch", "French"]
    assert controls[1]["selection"] == 0
    # Cancel ends the run with 1 before any registry or package work.
    wine.ui("click", "Lang Shown 1", "2")
    assert running.finish(30) == 1
    assert run_key_marked(wine)
    assert wine.records() == []
    wine.reg_delete(RUN_KEY, "KestStubReboot")


def test_dialog_layout_holds_at_any_resolution(wine, dpi):
    setup = Setup(wine, "lang-dpi").settings(**PRODUCT, ProductName="Lang Dpi", **LIST,
                                             KestInitLangAlwaysPrompt="1")
    running = setup.start(lang=GERMAN)
    faults = layout_faults(wine, "Lang Dpi")
    wine.ui("click", "Lang Dpi", "2")
    assert running.finish(30) == 1
    assert faults == []


def test_manifest_makes_the_activation_context_with_common_controls_6(wine):
    """Wine reads the stub's manifest as Windows does when the process
    starts, and its trace says what the activation context holds."""
    setup = Setup(wine, "lang-actctx").settings(**PRODUCT, ProductName="Lang Actctx", **LIST,
                                                KestInitLangAlwaysPrompt="1")
    running = setup.start(lang=GERMAN, env={"WINEDEBUG": "-all,trace+actctx"})
    wine.ui("click", "Lang Actctx", "2")
    assert running.finish(30) == 1
    trace = running.stderr()
    assert re.search(r'get_manifest_in_module looking for res #0001 in module \w+ '
                     r'L"C:.*\\\\setup\.exe"', trace), trace[-2000:]
    assert 'parse_settings_elem got L"dpiAware" L"true"' in trace
    assert re.search(r'parse_dependent_assembly_elem adding name=L"Microsoft\.Windows\.'
                     r'Common-Controls" version=6\.0\.0\.0', trace)
    # Bound: the system's Common Controls 6 assembly answered.
    assert re.search(r'get_manifest_in_manifest_file loading manifest file L"[^"]*\\\\winsxs'
                     r'\\\\manifests\\\\\w+_microsoft\.windows\.common-controls_6595b64144ccf1df_6\.',
                     trace)


@pytest.mark.parametrize("lang", [GERMAN, JAPANESE])
def test_users_language_closes_the_dialog_by_itself(wine, lang):
    setup = Setup(wine, "lang-match").settings(**PRODUCT, ProductName="Lang Match", **LIST)
    mark_run_key(wine)
    # A dialog would wait for the user until the time-out.
    assert setup.run(timeout=30, lang=lang) == 0
    assert not run_key_marked(wine)


@pytest.mark.parametrize("settings", [
    {"KestInitLangAlwaysPrompt": "1"},
    {"CharSize": "138"},  # 0x8A: 10 points, and bit 7 always asks
], ids=["always-prompt", "charsize-bit7"])
def test_always_prompt_shows_the_dialog_despite_a_match(wine, settings):
    setup = Setup(wine, "lang-force").settings(**PRODUCT, ProductName="Lang Forced", **LIST,
                                               **settings)
    mark_run_key(wine)
    running = setup.start(lang=GERMAN)
    _, controls = parse_dump(wine.ui("dump", "Lang Forced").stdout)
    assert controls[1]["items"] == ["English", "Deutsch", "Japanese"]
    assert controls[1]["selection"] == 0
    wine.ui("select", "Lang Forced", "1008", "1")
    wine.ui("click", "Lang Forced", "1")
    assert running.finish(30) == 0
    # OK goes on with the run.
    assert not run_key_marked(wine)


@pytest.mark.parametrize("settings", [
    {},
    {"Language2": "Deutsch,1031"},  # no Language1: no list at all
    {"KestInitLangDefault": "English,1033"},
], ids=["none", "language2-only", "default-only"])
def test_no_dialog_without_language1(wine, settings):
    setup = Setup(wine, "lang-none").settings(**PRODUCT, ProductName="Lang None",
                                              KestInitLangAlwaysPrompt="1", **settings)
    mark_run_key(wine)
    assert setup.run(timeout=30, lang=GERMAN) == 0
    assert not run_key_marked(wine)


def test_quiet_switch_still_shows_the_dialog(wine):
    setup = Setup(wine, "lang-quiet").settings(**PRODUCT, ProductName="Lang Quiet", **LIST)
    running = setup.start("/qn", lang="fr_FR.UTF-8")
    assert wine.ui("wait", "Lang Quiet").returncode == 0
    wine.ui("click", "Lang Quiet", "2")
    assert running.finish(30) == 1


def test_keys_come_from_the_settings_file_of_a_name_without_extension(wine):
    setup = Setup(wine, "lang-noext", exe_name="setup", subdir="my.dir").settings(
        **PRODUCT, ProductName="Lang NoExt", **LIST)
    running = setup.start(lang="fr_FR.UTF-8")
    _, controls = parse_dump(wine.ui("dump", "Lang NoExt").stdout)
    assert controls[1]["items"] == ["English", "Deutsch", "Japanese"]
    # Cancel: nothing is installed, and the exit code says so.
    wine.ui("click", "Lang NoExt", "2")
    assert running.finish(30) == 1


# The chosen index, the font and the prompt, through uitest -------------------------

def test_last_matching_entry_wins(wine):
    ui = UiTest(wine, "lang-last", ProductName="Lang Last", KestInitLangDefault="English,1033",
                Language1="Deutsch,1031", Language2="French;1036", Language3="Swiss;2055,1031",
                Language4="Italian,1040")
    result = ui.run("language", lang=GERMAN, timeout=30)
    assert (result["cancel"], result["index"]) == ("0", "3"), result["output"]


def test_the_exported_dialog_finds_the_settings_file_by_itself(wine):
    # Run as another module runs it, without the program's start-up: the
    # dialog reads the settings file beside its own module, and the German
    # entry matches the user's language.
    ui = UiTest(wine, "lang-foreign", ProductName="Lang Foreign",
                KestInitLangDefault="English,1033", Language1="Deutsch,1031")
    result = ui.run("foreign", lang=GERMAN, timeout=30)
    assert (result["result"], result["index"]) == ("1", "1"), result["output"]
    assert result["settings"].lower().endswith("-lang-foreign\\uitest.ini")


def test_first_entry_can_match_and_default_entry_is_english(wine):
    ui = UiTest(wine, "lang-first", ProductName="Lang First", KestInitLangDefault="Deutsch,1031",
                Language1="English,1033")
    assert ui.run("language", lang=GERMAN, timeout=30)["index"] == "0"
    # Without a default entry the list starts with "English", which matches nothing.
    ui = UiTest(wine, "lang-english", ProductName="Lang English", Language1="Deutsch,1031")
    ui.start("language", lang=JAPANESE)
    _, controls = parse_dump(wine.ui("dump", "Lang English").stdout)
    assert controls[1]["items"] == ["English", "Deutsch"]
    wine.ui("click", "Lang English", "1")
    assert ui.finish(30)["index"] == "0"


def test_missing_language2_ends_the_list(wine):
    ui = UiTest(wine, "lang-gap", ProductName="Lang Gap", KestInitLangPrompt="Pick one:",
                KestInitLangDefault="English,1033", Language1="Deutsch,1031",
                Language3="French,1036")
    ui.start("language", lang=JAPANESE)
    _, controls = parse_dump(wine.ui("dump", "Lang Gap").stdout)
    assert controls[0]["text"] == "Pick one:"
    assert controls[1]["items"] == ["English", "Deutsch"]
    wine.ui("select", "Lang Gap", "1008", "1")
    wine.ui("click", "Lang Gap", "1")
    result = ui.finish(30)
    assert (result["cancel"], result["index"]) == ("0", "1"), result["output"]


def test_double_click_chooses_the_entry(wine):
    ui = UiTest(wine, "lang-dbl", ProductName="Lang Double", **LIST)
    ui.start("language", lang="fr_FR.UTF-8")
    wine.ui("dblclick", "Lang Double", "1008", "2")
    result = ui.finish(30)
    assert (result["cancel"], result["index"]) == ("0", "2"), result["output"]


def test_cancel_sets_the_flag(wine):
    ui = UiTest(wine, "lang-cancel", ProductName="Lang Cancel", **LIST)
    ui.start("language", lang="fr_FR.UTF-8")
    wine.ui("click", "Lang Cancel", "2")
    assert ui.finish(30)["cancel"] == "1"


def test_font_follows_the_settings(wine):
    ui = UiTest(wine, "lang-font", ProductName="Lang Font", CharFont="Tahoma", CharSize="138",
                CharSet="1", **LIST)
    ui.start("language", lang=GERMAN)
    wine.ui("click", "Lang Font", "1")
    result = ui.finish(30)
    dpi = int(result["dpi"])
    # 10 points at the screen's resolution; bit 7 is not part of the size.
    assert int(result["height"]) == -((10 * dpi + 36) // 72)
    assert (result["face"], result["charset"]) == ("Tahoma", "1")


def test_default_font_is_ms_sans_serif_8(wine):
    ui = UiTest(wine, "lang-font-default", ProductName="Lang Font 8", **LIST)
    ui.start("language", lang="fr_FR.UTF-8")
    wine.ui("click", "Lang Font 8", "1")
    result = ui.finish(30)
    assert result["face"] == "MS Sans Serif", result["output"]
    assert int(result["height"]) == -((8 * int(result["dpi"]) + 36) // 72)


# Embedded mode: the language block read from the payload ---------------------------

def language_block(prompt, first, further):
    """Items 29-31 of the payload, then a marker where the next item begins."""
    def text(value):
        return value.encode("latin-1") + b"\0" if value is not None else b""
    block = text(prompt) + text(first)
    for entry in further:
        data = entry if isinstance(entry, bytes) else text(entry)
        block += len(data).to_bytes(2, "little") + data
    return block + b"END!"


def run_embedded(wine, name, prompt, first, further, lang, caption=None, answer=None,
                 extra=()):
    ui = UiTest(wine, name, ProductName=caption or name)
    block = ui.folder / "payload.bin"
    block.write_bytes(language_block(prompt, first, further))
    sizes = [len(text.encode("latin-1")) + 1 if text is not None else 0 for text in (prompt, first)]
    ui.start("embedded", wine.win(block), sizes[0], sizes[1], len(further), *extra, lang=lang)
    dump = None
    if answer:
        dump = parse_dump(wine.ui("dump", caption).stdout)
        wine.ui(*answer)
    return ui.finish(30), dump


def test_embedded_without_further_languages_reads_past_the_block(wine):
    result, _ = run_embedded(wine, "emb-none", "Pick:", "English,1033", [], GERMAN)
    assert (result["next"], result["index"], result["cancel"]) == ("END!", "0", "0"), \
        result["output"]


def test_a_dialog_that_cannot_be_created_keeps_the_default_and_the_streams(wine):
    # Nothing to choose from, yet the block is walked and the next item found.
    result, _ = run_embedded(wine, "emb-nodialog", "Pick:", "English,1033",
                             ["Deutsch,1031", "French,1036"], JAPANESE, extra=("nodialog",))
    assert (result["next"], result["index"], result["cancel"], result["walked"]) == \
        ("END!", "0", "0", "1"), result["output"]


def test_embedded_match_reads_the_whole_block(wine):
    result, _ = run_embedded(wine, "emb-match", None, "English,1033",
                             ["Deutsch,1031", "Japanese;1041", "French,1036"], GERMAN)
    assert (result["next"], result["index"], result["walked"]) == ("END!", "1", "1"), \
        result["output"]


def test_embedded_over_long_entry_is_cut_and_skipped(wine):
    long_entry = b"Long,1031;" + b"x" * 690 + b"\0"
    result, (_, controls) = run_embedded(
        wine, "emb-long", None, "English,1033", ["Deutsch,2055", long_entry, "French,1036"],
        JAPANESE, caption="Emb Long", answer=("click", "Emb Long", "2"))
    assert controls[1]["items"] == ["English", "Deutsch", "Long", "French"]
    assert (result["next"], result["cancel"], result["walked"]) == ("END!", "1", "1"), \
        result["output"]


def test_embedded_over_long_entry_can_match(wine):
    long_entry = b"Long,1041" + b"\0" * 600
    result, _ = run_embedded(wine, "emb-long-match", None, "English,1033",
                             ["Deutsch,2055", long_entry, "French,1036"], JAPANESE)
    assert (result["next"], result["index"]) == ("END!", "2"), result["output"]


def test_embedded_empty_entry_ends_the_list_but_not_the_reading(wine):
    result, (_, controls) = run_embedded(
        wine, "emb-empty", "Choose a language:", "English,1033",
        ["Deutsch,1031", b"", "French,1036"], "fr_FR.UTF-8", caption="Emb Empty",
        answer=("click", "Emb Empty", "1"))
    assert controls[0]["text"] == "Choose a language:"
    assert controls[1]["items"] == ["English", "Deutsch"]
    assert (result["next"], result["index"], result["walked"]) == ("END!", "0", "1"), \
        result["output"]
