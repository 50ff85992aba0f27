"""The harness itself: which stub runs here, and a stub that stops on an
error nobody answers fails its test at once, with the text, and is ended."""
import time

import pytest

from packer import rename_section
from stub import Setup
from winehost import ARCH, STUB, STUB32, STUB64, Running, UnexpectedMessageBox, host_runs_i386

CODE = "{4B0E7E2C-7D86-4C89-8E55-3F0C3B2D6A11}"


def test_the_stub_of_the_chosen_architecture_runs(wine):
    assert STUB == (STUB64 if ARCH == "x64" else STUB32)
    # Only a host that can run the 32-bit stub may choose it.
    if ARCH == "x86":
        assert host_runs_i386()
    r = wine.tool("exitwith.exe", "7")
    assert r.returncode == 7


def test_an_unanswered_message_box_fails_quickly_with_its_text(wine):
    setup = Setup(wine, "unanswered").settings(ProductCode=CODE, ProductVersion="1")
    rename_section(setup.exe, ".KEST", ".kest")
    running = setup.start()
    started = time.monotonic()
    with pytest.raises(UnexpectedMessageBox) as failure:
        running.finish(timeout=120)
    assert time.monotonic() - started < Running.BOX_GRACE + 10
    assert "Install: Corrupt installation detected." in str(failure.value)
    # The stub was ended with its box: nothing is left for a later test.
    assert wine.ui("gone", "Install", "5000").returncode == 0
