"""uitest.exe: the stub's dialogs and progress window on their own, and
what a window looks like to uidriver.exe."""
import itertools
import shutil
import subprocess

from stub import write_ini
from winehost import WINE

PRODUCT = {"ProductCode": "{11111111-2222-3333-4444-555555555555}", "ProductVersion": "1.0.0"}


class Output(dict):
    """What uitest.exe printed, by key; a missing key names the whole output,
    so that a failure says what the program printed instead."""

    def __missing__(self, key):
        raise KeyError(f"{key!r} not printed by uitest.exe: {dict.get(self, 'output')!r}")


class UiTest:
    """uitest.exe in a new folder, with uitest.ini holding the settings."""

    def __init__(self, wine, name, **settings):
        self.wine = wine
        self.folder = wine.scratch(name)
        self.exe = self.folder / "uitest.exe"
        shutil.copy2(wine.tools / "uitest.exe", self.exe)
        write_ini(self.folder / "uitest.ini", {**PRODUCT, **settings})
        self.process = None

    def start(self, mode, *args, lang=None):
        self.process = subprocess.Popen(
            [WINE, str(self.exe), mode, *map(str, args)], env=self.wine.environment(lang=lang),
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, errors="replace")
        return self

    def finish(self, timeout=60):
        """The key=value pairs that the program printed."""
        try:
            out, err = self.process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            # The Windows process may outlive the wine launcher and hold
            # the pipes open: do not wait for them.
            self.process.kill()
            try:
                self.process.communicate(timeout=5)
            except subprocess.TimeoutExpired:
                pass
            raise
        values = Output()
        for line in out.splitlines():
            key = line.split("=", 1)[0]
            if key in ("password", "face"):
                values[key] = line[len(key) + 1:]
                continue
            for pair in line.split(" "):
                if "=" in pair:
                    key, value = pair.split("=", 1)
                    values[key] = value
        values["exit"] = self.process.returncode
        values["output"] = out + err
        return values

    def run(self, mode, *args, lang=None, timeout=60):
        return self.start(mode, *args, lang=lang).finish(timeout)


def parse_dump(text):
    """uidriver dump output: the caption, and the controls by ID in order,
    each a dict of its fields (plus 'items' for list boxes)."""
    caption, controls, last = None, [], None
    for line in text.splitlines():
        if line.startswith("window "):
            caption = line.split(" caption=", 1)[1]
        elif line.startswith("control "):
            head, text_value = line.split(" text=", 1)
            fields = dict(pair.split("=", 1) for pair in head.split(" ")[1:])
            last = {"class": fields["class"], "id": int(fields["id"]),
                    "enabled": fields["enabled"] == "1", "visible": fields["visible"] == "1",
                    "text": text_value, "items": []}
            controls.append(last)
        elif line.startswith("item "):
            last["items"].append(line.split(" text=", 1)[1])
        elif line.startswith("selection="):
            last["selection"] = int(line.split("=", 1)[1])
        elif line.startswith("position="):
            last["position"] = int(line.split("=", 1)[1])
    return caption, controls


# A push button's text needs its edge and the focus frame on either side.
BUTTON_MARGIN = 6


def layout_faults(wine, caption, font="dialog"):
    """What is wrong with the layout of the window captioned caption: a
    visible control outside the client area, two that overlap, a text
    that needs more room than its control has (measured in the stub's
    dialog font, or the system's message-box font). Empty when none."""
    dump = wine.ui("layout", caption, font)
    assert dump.returncode == 0, dump.stdout + dump.stderr
    lines = dump.stdout.splitlines()
    width, height = map(int, lines[0].split()[1:])
    controls = []
    for line in lines[1:]:
        fields = dict(pair.split("=", 1) for pair in line.split()[1:])
        rect = tuple(map(int, fields["rect"].split(",")))
        need = tuple(map(int, fields["need"].split(",")))
        controls.append((f"{fields['class']} {fields['id']}", fields["class"].lower(), rect, need))
    faults = []
    for name, kind, (left, top, right, bottom), (need_w, need_h) in controls:
        if left < 0 or top < 0 or right > width or bottom > height:
            faults.append(f"{name} {left},{top},{right},{bottom} outside {width}x{height}")
        room = right - left - (BUTTON_MARGIN if kind == "button" else 0)
        if need_w > room or need_h > bottom - top:
            faults.append(f"{name} text needs {need_w}x{need_h} in {right - left}x{bottom - top}")
    # Dialog units become pixels edge by edge, rounded: two controls that
    # meet in the template may share one pixel.
    for (a, _, ra, _), (b, _, rb, _) in itertools.combinations(controls, 2):
        across = min(ra[2], rb[2]) - max(ra[0], rb[0])
        down = min(ra[3], rb[3]) - max(ra[1], rb[1])
        if across > 1 and down > 1:
            faults.append(f"{a} {ra} overlaps {b} {rb}")
    return faults
