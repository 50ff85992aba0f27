"""The built stub's PE shape: what other modules and old Windows rely on."""
import struct

import pytest

from pe import PeImage
from winehost import STUB

KNOWN_DLLS = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "ADVAPI32.DLL", "SHELL32.DLL"}


@pytest.fixture(scope="module")
def image():
    return PeImage(STUB.read_bytes())


def test_pe32_gui_for_old_windows(image):
    assert image.machine == 0x14C
    assert image.magic == 0x10B
    assert image.subsystem == 2
    assert image.subsystem_version == (4, 0)
    # Relocatable, so other modules can load it and it gets ASLR; NX-compatible.
    assert image.dll_characteristics & 0x40 and image.dll_characteristics & 0x100
    assert image.section(".reloc") is not None
    assert image.characteristics & 0x1 == 0  # relocations not stripped
    assert image.symbol_table == 0  # stripped


def test_kest_section_marks_settings_file_mode(image):
    kest = image.section(".KEST")
    assert kest is not None
    assert kest.raw_size == 512
    data = image.data[kest.raw_pointer:kest.raw_pointer + kest.raw_size]
    assert struct.unpack_from("<I", data)[0] == 0x12345678
    assert data[4:] == bytes(508)
    # Initialised data, readable, not writable and not code.
    assert kest.characteristics & 0x40 and kest.characteristics & 0x40000000
    assert not kest.characteristics & (0x80000000 | 0x20)
    # The locator only looks at the first 1,536 bytes.
    assert kest.header_offset + 40 <= 1536


def test_imports_only_known_dlls(image):
    imports = {name.upper() for name in image.imports()}
    assert imports <= KNOWN_DLLS, imports - KNOWN_DLLS


def test_exports_are_decorated_only(image):
    for name in image.exports():
        assert name.startswith("_") and "@" in name, name


def test_dialog_procedures_are_exported(image):
    names = set(image.exports())
    assert {"_LanguageDlg@16", "_PasswordDlg@16", "_ProgressDlg@16"} <= names
    assert not names & {"LanguageDlg", "PasswordDlg", "ProgressDlg", "LanguageDlg@16"}

