"""The stub's resources, read from the built file: the dialog templates
exactly as the dialogs are laid out, the icon and the animation clip."""
import re
import struct

import pytest

from pe import PeImage
from winehost import ROOT, STUB

US_ENGLISH = 1033
RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION = 3, 5, 6, 14, 16

# Window and control styles.
WS_POPUP, WS_CHILD, WS_VISIBLE = 0x80000000, 0x40000000, 0x10000000
WS_CAPTION, WS_BORDER, WS_VSCROLL = 0x00C00000, 0x00800000, 0x00200000
WS_SYSMENU, WS_GROUP, WS_TABSTOP = 0x00080000, 0x00020000, 0x00010000
DS_MODALFRAME, DS_SETFONT, DS_3DLOOK, DS_CENTER = 0x80, 0x40, 0x4, 0x800
SS_LEFT, BS_PUSHBUTTON, BS_DEFPUSHBUTTON = 0, 0, 1
ES_PASSWORD, ES_AUTOHSCROLL = 0x20, 0x80
LBS_NOTIFY, LBS_SORT, LBS_NOINTEGRALHEIGHT = 0x1, 0x2, 0x100
ACS_CENTER, ACS_TRANSPARENT, ACS_AUTOPLAY = 0x1, 0x2, 0x4
CHILD = WS_CHILD | WS_VISIBLE
STATIC = CHILD | SS_LEFT | WS_GROUP
BUTTON = CHILD | BS_PUSHBUTTON | WS_TABSTOP
DEFAULT_BUTTON = CHILD | BS_DEFPUSHBUTTON | WS_TABSTOP
DIALOG = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT
ATOMS = {0x80: "Button", 0x81: "Edit", 0x82: "Static", 0x83: "ListBox"}

EXPECTED = {
    109: ((DIALOG, "Enter Password", 186, 70), [
        (STATIC, 0xFFFF, "static", "This installation is password protected. Enter the "
         "installation password into the field below.", 7, 7, 172, 17),
        (STATIC, 0xFFFF, "static", "Password:", 7, 33, 40, 10),
        (CHILD | WS_BORDER | WS_TABSTOP | ES_PASSWORD | ES_AUTOHSCROLL, 1005, "edit", "",
         49, 30, 130, 12),
        (DEFAULT_BUTTON, 1, "button", "OK", 75, 49, 50, 14),
        (BUTTON, 2, "button", "Cancel", 129, 49, 50, 14)]),
    110: ((DIALOG | DS_3DLOOK | WS_VISIBLE, " ", 208, 66), [
        (STATIC, 0xFFFF, "static", "The Kest Installation Wizard is extracting files to your "
         "local computer, please wait...", 7, 7, 194, 17),
        (CHILD | WS_BORDER, 1007, "msctls_progress32", "Progress1", 7, 29, 194, 10),
        (BUTTON, 2, "button", "Cancel", 151, 46, 50, 14),
        (WS_CHILD | WS_TABSTOP | ACS_CENTER | ACS_TRANSPARENT | ACS_AUTOPLAY, 112, "sysanimate32",
         "Animate1", 90, 27, 26, 20)]),
    111: ((DIALOG, "Select Language", 186, 135), [
        (STATIC, 0xFFFF, "static", "This installation can be displayed in multiple languages. "
         "Please select the language to display from the list below.", 7, 7, 172, 25),
        (CHILD | WS_BORDER | WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, 1008,
         "listbox", "", 7, 32, 172, 79),
        (DEFAULT_BUTTON, 1, "button", "OK", 75, 114, 50, 14),
        (BUTTON, 2, "button", "Cancel", 129, 114, 50, 14)]),
}


@pytest.fixture(scope="module")
def resources():
    return PeImage(STUB.read_bytes()).resources()


class Reader:
    def __init__(self, data):
        self.data, self.at = data, 0

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.at)
        self.at += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def text(self):
        end = self.at
        while self.data[end:end + 2] != b"\0\0":
            end += 2
        value = self.data[self.at:end].decode("utf-16-le")
        self.at = end + 2
        return value

    def name_or_ordinal(self):
        if self.data[self.at:self.at + 2] == b"\xff\xff":
            return self.take("HH")[1]
        return self.text()

    def align(self):
        self.at = (self.at + 3) & ~3


def read_dialog(data):
    """A classic DLGTEMPLATE: (style, title, cx, cy), font, controls."""
    r = Reader(data)
    style, exstyle, count, x, y, cx, cy = r.take("IIHhhhh")
    assert exstyle == 0 and (x, y) == (0, 0)
    assert r.name_or_ordinal() == "" and r.name_or_ordinal() == ""  # no menu, default class
    title = r.text()
    font = (r.take("H"), r.text())
    controls = []
    for _ in range(count):
        r.align()
        cstyle, cexstyle, x, y, w, h, ident = r.take("IIhhhhH")
        kind = r.name_or_ordinal()
        text = r.name_or_ordinal()
        assert r.take("H") == 0 and cexstyle == 0  # no creation data
        # Class names compare without case; windres stores them upper-cased.
        controls.append((cstyle, ident, ATOMS.get(kind, kind).lower(), text, x, y, w, h))
    return (style, title, cx, cy), font, controls


@pytest.mark.parametrize("ident", sorted(EXPECTED))
def test_dialog_templates(resources, ident):
    dialog, font, controls = read_dialog(resources[(RT_DIALOG, ident, US_ENGLISH)])
    assert dialog == EXPECTED[ident][0]
    assert font == (8, "MS Sans Serif")
    assert controls == EXPECTED[ident][1]


def test_every_resource_is_us_english(resources):
    kinds = {(kind, name) for kind, name, _ in resources}
    assert {(RT_DIALOG, 109), (RT_DIALOG, 110), (RT_DIALOG, 111), (RT_GROUP_ICON, 108),
            ("AVI", 112), (RT_VERSION, 1)} <= kinds
    assert {language for _, _, language in resources} == {US_ENGLISH}


def test_version_resource_shows_the_version_file(resources):
    data = resources[(RT_VERSION, 1, US_ENGLISH)]
    version = (ROOT / "VERSION").read_text().strip()
    major, minor, patch = map(int, version.split("."))
    fixed = data.index(struct.pack("<I", 0xFEEF04BD))  # VS_FIXEDFILEINFO
    assert struct.unpack_from("<IIII", data, fixed + 8) == (major << 16 | minor, patch << 16) * 2
    text = data.decode("utf-16-le", "replace")
    for key in ("FileVersion", "ProductVersion"):
        assert re.search(f"{key}\0+{re.escape(version)}\0", text), key


def test_icon_group_has_a_large_and_a_small_image(resources):
    group = resources[(RT_GROUP_ICON, 108, US_ENGLISH)]
    reserved, kind, count = struct.unpack_from("<HHH", group)
    assert (reserved, kind, count) == (0, 1, 2)
    sizes = []
    for i in range(count):
        w, h, colors, _, planes, bits, size, ident = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        image = resources[(RT_ICON, ident, US_ENGLISH)]
        assert len(image) == size
        header = struct.unpack_from("<IiiHH", image)
        assert header == (40, w, 2 * h, 1, bits) and (colors, planes, bits) == (16, 1, 4)
        sizes.append(w)
    assert sorted(sizes) == [16, 32]


def chunks(data, at, end):
    while at + 8 <= end:
        fourcc, size = struct.unpack_from("<4sI", data, at)
        yield fourcc, at + 8, size
        at += 8 + size + (size & 1)


def test_animation_is_a_silent_rle8_clip_the_control_plays(resources):
    clip = resources[("AVI", 112, US_ENGLISH)]
    assert len(clip) < 8192
    riff, size, form = struct.unpack_from("<4sI4s", clip)
    assert (riff, form, size + 8) == (b"RIFF", b"AVI ", len(clip))
    top = {}
    for fourcc, at, size in chunks(clip, 12, len(clip)):
        key = clip[at:at + 4] if fourcc == b"LIST" else fourcc
        top[key] = (at, size)
    at, size = top[b"hdrl"]
    header = list(chunks(clip, at + 4, at + size))
    assert [c[0] for c in header] == [b"avih", b"LIST"]
    frames, streams = struct.unpack_from("<I4xI", clip, header[0][1] + 16)
    assert streams == 1  # video only: the control refuses sound
    stream = {fourcc: at for fourcc, at, _ in chunks(clip, header[1][1] + 4,
                                                     header[1][1] + header[1][2])}
    kind, handler = struct.unpack_from("<4s4s", clip, stream[b"strh"])
    assert kind == b"vids" and handler in (b"RLE ", b"DIB ", b"\0\0\0\0")
    bits, compression = struct.unpack_from("<HI", clip, stream[b"strf"] + 14)
    assert (bits, compression) == (8, 1)  # BI_RLE8
    at, size = top[b"movi"]
    movie = list(chunks(clip, at + 4, at + size))
    assert len(movie) == frames > 1
    assert all(fourcc == b"00dc" for fourcc, _, _ in movie)
    assert top[b"idx1"][1] == 16 * frames
