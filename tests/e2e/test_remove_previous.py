"""Removal of a different installed version, through the real MSI.DLL."""
import pytest

from packages import build_msi, installed
from stub import Setup



def installed_version(wine, code):
    return wine.product_value(code, "DisplayVersion")


@pytest.fixture
def old_version_installed(wine):
    """Version 1.0.0 of a product, installed by Wine's own msiexec."""
    with installed(wine, "Kest Removal", "remove-previous") as code:
        yield code


def new_setup(wine, code, version="2.0.0", **extra):
    setup = Setup(wine, "remove")
    build_msi(setup.folder / "new.msi", name="Kest Removal", version=version, product_code=code,
              seed="remove-previous")
    settings = dict(ProductName="Kest Removal", ProductCode=code, ProductVersion=version,
                    ProductFile="new.msi", CmdLine="/qn", Remove_Previous="1")
    setup.settings(**{**settings, **extra})
    return setup


def answer_question(wine, button):
    box = wine.ui("dump", "Kest Removal")
    wine.ui("click", "Kest Removal", button)
    return box.stdout


def test_no_keeps_the_installed_version_and_ends_with_one(wine, old_version_installed):
    code = old_version_installed
    setup = new_setup(wine, code)
    wine.clear_records()
    running = setup.start(record_msiexec=True)
    text = answer_question(wine, "7")  # No
    assert running.finish() == 1
    assert ("Kest Removal Version 1.0.0 is already installed. You must uninstall the existing "
            "version before installing Kest Removal Version 2.0.0.") in text
    assert "Do you want to uninstall the existing version of Kest Removal?" in text
    # Yes and No, with No the default.
    assert "id=6" in text and "id=7" in text
    assert wine.records() == []
    assert installed_version(wine, code) == "1.0.0"


def test_yes_removes_it_then_installs_the_package(wine, old_version_installed):
    code = old_version_installed
    setup = new_setup(wine, code)
    running = setup.start(record_msiexec=False)
    answer_question(wine, "6")  # Yes
    assert running.finish(timeout=300) == 0
    assert installed_version(wine, code) == "2.0.0"


def test_same_version_or_setting_off_asks_nothing(wine, old_version_installed):
    code = old_version_installed
    for setup in (new_setup(wine, code, version="1.0.0"),
                  new_setup(wine, code, Remove_Previous="2")):
        wine.clear_records()
        # A question would block the run until the time-out.
        assert setup.run(record_msiexec=True, timeout=60) == 0
        assert len(wine.records()) == 1
    assert installed_version(wine, code) == "1.0.0"


def test_package_text_for_the_question(wine, old_version_installed):
    code = old_version_installed
    setup = new_setup(wine, code, ExistError="Replace %s %s with %s %s? (%s) %s %d")
    running = setup.start(record_msiexec=True)
    text = answer_question(wine, "7")
    assert running.finish() == 1
    # Surplus placeholders stay empty instead of reading past the arguments.
    assert "Replace Kest Removal 1.0.0 with Kest Removal 2.0.0? (Kest Removal)  %d" in text
