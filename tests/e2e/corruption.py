"""The corruption matrix: the regions of a packed setup.exe, a fixed sample
of mutations over them, quick runs of the mutants under Wine, and the
verdict on each run.

Each run ends in one class:
  a  the stub ended cleanly: its message and/or one of its own exit codes,
     or the system refused to start the damaged image at all, and the
     stub's entry routine was never reached;
  b  it installed correctly: msiexec received the package byte for byte,
     and every file left in the extraction folder is an intact stream;
  h  msiexec ran with a path that a damaged header names instead of the
     extracted package (a changed TransformMSI or external package path,
     taken for the base package of a carried transform):
     the header carries no check of its own, and no stream byte is
     involved, since every extracted file is still intact;
  x  a field that only the system loader reads (the entry point, the
     section layout, the stack size, a data directory) made the loader map
     and start a broken image, which faulted, stalled, or returned at once
     with whatever code its registers held (an entry point moved onto the
     last byte of the code before it), before the stub's entry routine was
     ever reached, or after the loader had laid other bytes over the
     stub's code (a section moved onto it) or left its imports unbound:
     nothing in the stub can answer for that;
  c  a fault of the stub: a crash (an exception code), a hang, a window
     other than a message box in a quiet run, a file left in the
     extraction or temporary folder, msiexec handed bytes that are not an
     intact stream, or an exit code the stub has no business returning.

Whether the stub's own code started is not guessed from the field or the
exit code: stub_series.exe runs each mutant as its debugger, with a
breakpoint on the stub's entry routine where the intact file has it. A run
that reached it and then faulted is the stub's fault (c), whichever field
was damaged; a or x need the proof that it was never reached.

The runs go through stub_series.exe, which starts the mutant once per
request and answers its dialogs (the password, the language, message
boxes: a quiet run still shows the stub's error messages), so that a run
costs no Wine start of its own. Several series run at once, each in its
own prefix (hard-linked copies of the session's), since the extraction
folder is one per machine.
"""
import getpass
import os
import queue
import re
import shutil
import struct
import subprocess
import threading
import time
from dataclasses import dataclass
from pathlib import Path

from pe import PeImage
from winehost import BUILD, PREFIX, WINE

MUTANT_NAME = "kestmutant.exe"
WIZARD = ("Program Files", "Common Files", "Kest Installation Wizard")
# Wine waits two seconds for a window manager whenever a managed window is
# hidden; Xvfb has none. Unmanaged windows of the mutant alone save that.
UNMANAGED_KEY = r"HKCU\Software\Wine\AppDefaults" + "\\" + MUTANT_NAME + r"\X11 Driver"
# A crash ends the process with its code instead of waiting on a dialog.
CRASH_DIALOG_KEY = r"HKCU\Software\Wine\WineDbg"
# No sound for the message boxes' beep: the audio drivers take their time.
QUIET_AUDIO = ";winealsa.drv,winepulse.drv,wineoss.drv="
RUN_LIMIT_MS = 8000
# stub_series.exe ends every run within its limit and 15 s more; one that
# has not answered long after is stuck itself, and is started again.
STALL_SECONDS = 60
# The whole matrix, however the host fares: past it no more runs start,
# and the matrix fails with the count it reached.
MATRIX_BUDGET_SECONDS = int(os.environ.get("KEST_CORRUPTION_BUDGET", "1200"))
CLEAN_EXITS = {0, 1, 2, 1641}
# CreateProcess's errors for a file that is no valid program: bad format,
# bad executable format, invalid image hash/type.
IMAGE_REFUSALS = {"11", "193", "216", "1392", "577", "14001"}


# Regions ----------------------------------------------------------------------------
@dataclass
class Field:
    """A stretch of the file a mutation may hit: region, name, where, how
    long, and what kind of thing it holds ("size", "int", "len", "bytes");
    loader: only the system's loader reads it, never the stub."""
    region: str
    name: str
    offset: int
    length: int
    kind: str = "bytes"
    loader: bool = False


def payload_fields(data, info):
    """The fields of the payload from kestpack's report and the layout."""
    p = info["payloadOffset"]
    fields = []

    def add(region, name, offset, length, kind="bytes"):
        if length > 0:
            fields.append(Field(region, name, offset, length, kind))

    fixed = ["reserved1", "StreamSizeNT", "TotalFileSize", "RuntimeVersionMS", "RuntimeVersionLS",
             "StreamSize9X", "StreamSizeMSI", "reserved8", "reserved9"]
    for i, name in enumerate(fixed):
        if name.startswith("StreamSize"):
            add("sizes", name, p + 4 * i, 4, "size")
        else:
            add("header", name, p + 4 * i, 4, "size" if name == "TotalFileSize" else "int")
    add("header", "DelayReboot", p + 36, 1, "int")
    heads = list(data[p + 37:p + 41])
    for i in range(4):
        add("header", f"head length {i}", p + 37 + i, 1, "len")
    at = p + 41
    for i, n in enumerate(heads):
        add("header", f"head string {i}", at, n)
        at += n
    lengths = info["lengths"]
    assert list(data[at:at + 19]) == lengths
    for i in range(19):
        add("header", f"length byte {i}", at + i, 1, "len")
    at += 19
    add("texts", "caption block", at, lengths[2])
    at += lengths[2]
    add("header", "password", at, lengths[3])
    at += lengths[3]
    assert at == info["textRegionOffset"]
    add("texts", "text region", at, sum(lengths[4:11]))
    at = info["externalPackagePathOffset"]
    add("texts", "external package path", at, lengths[11])
    for key, length in (("Runtime9X", 12), ("RuntimeNT", 13), ("RuntimeDotNet", 14),
                        ("RuntimeDotNetUpdate", 17)):
        url = info["runtimes"][key]["urlOffset"]
        add("header", f"{key} URL", url, lengths[length])
        add("header", f"{key} download size", url + lengths[length], 4, "size")
        at = url + lengths[length] + 4
    add("languages", "prompt", at, lengths[15])
    at += lengths[15]
    add("languages", "first language", at, lengths[16])
    at += lengths[16]
    for k in range(lengths[18]):
        n = struct.unpack_from("<H", data, at)[0]
        add("languages", f"length of language {k + 1}", at, 2, "len")
        add("languages", f"language {k + 1}", at + 2, n)
        at += 2 + n
    assert at == info["streamsOffset"]
    for s in info["streams"]:
        name = s["name"]
        if name.startswith("transform"):
            add("sizes", f"size of {name}", s["offset"] - 4, 4, "size")
        add("streams", name, s["offset"], s["size"] - 4)
        add("streams", f"{name} CRC", s["offset"] + s["size"] - 4, 4)
    return fields


def pe_fields(data):
    """The PE headers: the DOS header, the NT headers field by field, and
    the section table entry by entry. The stub's locator reads e_magic,
    e_lfanew, NumberOfSections, the optional header's magic, the
    directory count and the section names, with the .KEST section's raw
    size and pointer; the system loader reads those and everything else."""
    image = PeImage(data)
    nt = image.nt
    opt = nt + 24
    plus = image.is_64bit
    fields = [Field("pe", "DOS e_magic", 0, 2), Field("pe", "DOS e_lfanew", 0x3C, 4, "int"),
              Field("pe", "DOS header rest", 2, 0x3A, loader=True),
              Field("pe", "PE signature", nt, 4, loader=True),
              Field("pe", "Machine", nt + 4, 2, "int", True),
              Field("pe", "NumberOfSections", nt + 6, 2, "int"),
              Field("pe", "file header stamps", nt + 8, 12, loader=True),
              Field("pe", "SizeOfOptionalHeader", nt + 20, 2, "int", True),
              Field("pe", "Characteristics", nt + 22, 2, "int", True),
              Field("pe", "optional Magic", opt, 2, "int")]
    layout = [("linker version", 2, 2), ("SizeOfCode", 4, 4), ("SizeOf(Un)InitializedData", 8, 8),
              ("AddressOfEntryPoint", 16, 4), ("BaseOfCode", 20, 4)]
    if plus:
        layout += [("ImageBase", 24, 8)]
    else:
        layout += [("BaseOfData", 24, 4), ("ImageBase", 28, 4)]
    layout += [("SectionAlignment", 32, 4), ("FileAlignment", 36, 4), ("versions", 40, 16),
               ("SizeOfImage", 56, 4), ("SizeOfHeaders", 60, 4), ("CheckSum", 64, 4),
               ("Subsystem", 68, 2), ("DllCharacteristics", 70, 2)]
    reserves = 32 if plus else 16
    layout += [("stack and heap sizes", 72, reserves), ("LoaderFlags", 72 + reserves, 4)]
    for name, at, n in layout:
        fields.append(Field("pe", name, opt + at, n, "int" if n <= 4 else "bytes", True))
    count_at = opt + 76 + reserves
    fields.append(Field("pe", "NumberOfRvaAndSizes", count_at, 4, "int"))
    for i, _ in enumerate(image.directories):
        fields.append(Field("pe", f"data directory {i}", count_at + 4 + 8 * i, 8, "bytes", True))
    for s in image.sections:
        h = s.header_offset
        if s.name == ".KEST":
            fields += [Field("kest-section", ".KEST name", h, 8),
                       Field("kest-section", ".KEST VirtualSize", h + 8, 4, "size", True),
                       Field("kest-section", ".KEST VirtualAddress", h + 12, 4, "int", True),
                       Field("kest-section", ".KEST SizeOfRawData", h + 16, 4, "size"),
                       Field("kest-section", ".KEST PointerToRawData", h + 20, 4, "size"),
                       Field("kest-section", ".KEST characteristics", h + 36, 4, "int", True)]
        else:
            # The locator compares every name before .KEST's with ".KEST".
            fields += [Field("section-table", f"{s.name} name", h, 8),
                       Field("section-table", f"{s.name} sizes and pointers", h + 8, 16, "bytes",
                             True),
                       Field("section-table", f"{s.name} characteristics", h + 36, 4, "int",
                             True)]
    return fields


# Mutations ----------------------------------------------------------------------------
@dataclass
class Mutation:
    base: str      # which packed file it applies to
    field: Field
    offset: int    # the byte, or the first byte of the integer, it changes
    op: str
    value: int = 0
    width: int = 1
    before: "Mutation" = None  # applied first, for a mutation made of two

    @property
    def label(self):
        value = "" if self.op in ("+1", "-1", "truncate") else f" {self.value:#x}"
        first = self.before.label.split(":", 1)[1] + " and " if self.before else ""
        return f"{self.base}:{first}{self.field.region}/{self.field.name}@0x{self.offset:X} " \
               f"{self.op}{value}"

    def apply(self, data):
        if self.before:
            data = self.before.apply(data)
        out = bytearray(data)
        if self.op == "truncate":
            return bytes(out[:self.offset])
        fmt = {1: "<B", 2: "<H", 4: "<I"}[self.width]
        mask = (1 << (8 * self.width)) - 1
        old = struct.unpack_from(fmt, out, self.offset)[0]
        new = {"flip": old ^ self.value, "set": self.value, "+1": old + 1,
               "-1": old - 1, "large": self.value}[self.op] & mask
        struct.pack_into(fmt, out, self.offset, new)
        return bytes(out)


LARGE = (0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0x7FFFFFF0, 0x10000000)


def pick(rng, base, f, data):
    """One mutation of field f that changes the file."""
    for _ in range(50):
        width = min(f.length, 4) if f.kind in ("size", "int", "len") and rng.random() < 0.5 else 1
        width = 2 if width == 3 else width
        if f.kind == "size" and rng.random() < 0.4:
            m = Mutation(base, f, f.offset, "large", rng.choice(LARGE + (len(data), len(data) + 1)), 4)
        elif f.kind in ("size", "int", "len") and width > 1 and rng.random() < 0.7:
            m = Mutation(base, f, f.offset, rng.choice(("+1", "-1")), 0, width)
        else:
            at = f.offset + rng.randrange(f.length)
            op = rng.choice(("flip", "flip", "set", "+1", "-1") if f.kind != "bytes"
                            else ("flip", "flip", "set"))
            value = (1 << rng.randrange(8)) if op == "flip" else rng.choice((0, 0xFF))
            m = Mutation(base, f, at, op, value, 1)
        if m.apply(data) != data:
            return m
    raise AssertionError(f"no mutation changes {f}")


def sample(rng, base, data, fields, count, weight=lambda f: 1):
    """count mutations over fields, spread evenly over them first and
    then by weight, in a fixed order for a fixed generator."""
    out = [pick(rng, base, f, data) for f in fields[:count]]
    weights = [weight(f) for f in fields]
    while len(out) < count:
        out.append(pick(rng, base, rng.choices(fields, weights)[0], data))
    return out


def fixed_cases(base, data):
    """Damage that once ended in ways the classes did not know, kept in
    every matrix: under 32-bit Wine a broken e_lfanew or PE signature
    starts the file as a DOS program, and an entry point one byte early
    returns at once. (The cut at 0x40 is among the truncations.)"""
    fields = {f.name: f for f in pe_fields(data)}
    entry = fields["AddressOfEntryPoint"]
    return [Mutation(base, fields["DOS e_lfanew"], 0x3F, "flip", 0x4),
            Mutation(base, fields["PE signature"], PeImage(data).nt + 3, "flip", 0x4),
            Mutation(base, entry, entry.offset, "-1", 0, 4)]


def truncations(base, data, image, payload, total_at, inside=50):
    """The file cut at every section boundary, and at `inside` points in
    the payload: its item boundaries, then evenly spread. Every other cut
    inside the payload also clears TotalFileSize (at total_at), so that
    the readers meet the cut rather than the length check."""
    region = Field("truncation", "section boundary", 0, 0)
    points = {0x40, image.nt + 24}
    for s in image.sections:
        if s.raw_size:
            points.update((s.raw_pointer, s.raw_pointer + s.raw_size))
    points = sorted(p for p in points if 0 < p < len(data))
    cuts = [Mutation(base, region, p, "truncate") for p in points]
    inner = Field("truncation", "inside the payload", 0, 0)
    total = Field("header", "TotalFileSize", total_at, 4, "size")
    marks = set(payload)
    step = (len(data) - payload[0]) / (inside - len(marks) + 1)
    k = 1
    while len(marks) < inside:
        marks.add(payload[0] + int(step * k))
        k += 1
    for i, p in enumerate(sorted(marks)):
        clear = Mutation(base, total, total_at, "set", 0, 4) if i % 2 else None
        cuts.append(Mutation(base, inner, p, "truncate", before=clear))
    return cuts


# Runs ----------------------------------------------------------------------------------
@dataclass
class Outcome:
    mutation: Mutation
    verdict: str       # "a", "b" or "c"
    what: str          # how it ended, in a few words
    detail: str = ""
    exit: int = None
    ms: int = 0


def fnv1a(data):
    value = 2166136261
    for byte in data:
        value = ((value ^ byte) * 16777619) & 0xFFFFFFFF
    return value


class Base:
    """A packed file and the originals it carries; entry is where its entry
    routine lies and how it begins, for stub_series.exe's probe."""

    def __init__(self, name, exe, package, transforms, password):
        self.name = name
        self.data = Path(exe).read_bytes()
        self.package = Path(package).read_bytes()
        self.transforms = [Path(t).read_bytes() for t in transforms]
        self.password = password
        image = PeImage(self.data)
        rva = struct.unpack_from("<I", self.data, image.nt + 24 + 16)[0]
        at = image.offset_of(rva)
        # And the code as a whole, which the loader must map unchanged.
        text = image.section(".text")
        length = min(text.virtual_size, text.raw_size)
        # And the import address table, whose null entries (each library's
        # end) the loader leaves null while it binds the rest.
        table, table_size = image.directories[12]
        width = 8 if image.is_64bit else 4
        start = image.offset_of(table)
        nulls = sum(not int.from_bytes(self.data[start + i:start + i + width], "little")
                    for i in range(0, table_size, width))
        self.entry = (f"{rva:X}:{self.data[at:at + 16].hex()};{text.virtual_address:X}:{length:X}:"
                      f"{fnv1a(self.data[text.raw_pointer:text.raw_pointer + length]):X};"
                      f"{table:X}:{table_size:X}:{nulls:X}")


class Series:
    """stub_series.exe in one prefix, and the checks after each run."""

    def __init__(self, wine, prefix, env):
        self.wine = wine
        self.prefix = Path(prefix)
        self.drive_c = self.prefix / "drive_c"
        self.env = env = dict(env)
        self.folder = self.drive_c / "kestseries"
        self.folder.mkdir(exist_ok=True)
        self.exe = self.folder / MUTANT_NAME
        self.extraction = self.drive_c.joinpath(*WIZARD)
        self.temp = self.drive_c / "users" / getpass.getuser() / "Temp"
        self.record = self.drive_c / "msiexec-record.txt"
        self.runtime_record = self.folder / "runtime-record.txt"
        env["KEST_RUNTIME_RECORD"] = self.win(self.runtime_record)
        self.clean()
        self.stray = []
        self.stalls = 0
        self.launch()

    def launch(self):
        self.process = subprocess.Popen(
            [WINE, str(self.wine.tools / "stub_series.exe")], env=self.env, cwd=self.folder,
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
            errors="replace")
        # The answers are read by a thread of their own, so that a series
        # that stops answering cannot stop the matrix.
        self.lines = queue.Queue()
        threading.Thread(target=self.read_lines, args=(self.process, self.lines),
                         daemon=True).start()

    @staticmethod
    def read_lines(process, lines):
        for line in process.stdout:
            lines.put(line)
        lines.put(None)

    def win(self, path):
        return "C:\\" + str(Path(path).relative_to(self.drive_c)).replace("/", "\\")

    def unix(self, winpath):
        """The file a Windows path names in this prefix; None for a path
        elsewhere (which no run of these files should give msiexec)."""
        if winpath[:3].upper() != "C:\\":
            return None
        return self.drive_c / winpath[3:].replace("\\", "/")

    def clean(self):
        # Unlinks: a copied prefix shares its files with the session's.
        shutil.rmtree(self.extraction, ignore_errors=True)
        for p in self.temp.glob("KXC*"):
            p.unlink()
        self.record.unlink(missing_ok=True)
        self.runtime_record.unlink(missing_ok=True)

    def kill(self):
        """Ends a series that stopped answering; Wine ends the program it
        was debugging with it."""
        self.process.kill()
        self.process.wait(30)

    def close(self):
        if self.process.poll() is None:
            try:
                self.process.stdin.write("\n")
                self.process.stdin.flush()
                self.process.wait(30)
            except (OSError, subprocess.TimeoutExpired):
                self.process.kill()

    def run(self, base, mutation, limit=RUN_LIMIT_MS):
        """Runs the mutant (the base itself for None) and judges the run."""
        report = self.start(base, mutation, limit)
        error = report.get("error", "")
        if (error.startswith("CreateProcess") and error.split()[-1] not in IMAGE_REFUSALS) or \
                error.startswith("stalled"):
            # Not a verdict on the image: Wine now and then fails to start
            # a file just written under the name of the one before, and a
            # stalled series is started again; a second stall is judged.
            time.sleep(0.5)
            self.clean()
            report = self.start(base, mutation, limit)
        outcome = self.judge(base, mutation, report)
        self.clean()
        return outcome

    def start(self, base, mutation, limit=RUN_LIMIT_MS):
        """Runs the mutant; returns stub_series.exe's report as a dict."""
        self.exe.unlink(missing_ok=True)
        self.exe.write_bytes(mutation.apply(base.data) if mutation else base.data)
        self.process.stdin.write(
            f"{self.win(self.exe)}\t/qn\t{base.password}\t{limit}\t{base.entry}\n")
        self.process.stdin.flush()
        # What the programs of the run write to the console shares the pipe.
        stray = []
        deadline = time.monotonic() + limit / 1000 + STALL_SECONDS
        while True:
            try:
                line = self.lines.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                self.stalls += 1
                self.kill()
                self.launch()
                self.stray += stray
                return {"error": f"stalled: no answer from stub_series.exe in "
                                 f"{limit // 1000 + STALL_SECONDS} s"}
            if line is None:
                raise RuntimeError("stub_series.exe ended early: " + "".join(stray))
            if line.startswith(("exit=", "error=")):
                break
            stray.append(line)
        self.stray += stray
        return dict(part.split("=", 1) for part in line.rstrip("\n").split("\t") if "=" in part)

    def leftovers(self, originals=()):
        """Files of the run in the extraction and temporary folders, but
        for those that hold one of originals byte for byte: the package
        and its transforms stay where msiexec found them."""
        files = [p for p in self.extraction.rglob("*") if p.is_file()] \
            if self.extraction.exists() else []
        files += list(self.temp.glob("KXC*"))
        return [str(p.relative_to(self.drive_c)) for p in files
                if not (originals and p.is_file() and p.read_bytes() in originals)]

    def judge_hand_over(self, base, records, code, outcome, detail):
        """msiexec ran: whatever it was given from the extraction folder
        must be an intact stream. A path elsewhere was not written by the
        stub: a damaged header may name it (an external package, say),
        and no byte of a stream is involved."""
        originals = [base.package] + base.transforms
        problems, elsewhere = [], []
        for rec in records:
            line = rec.get("cmdline", "")
            package = re.search(r'/I "([^"]*)"', line)
            transforms = re.search(r'TRANSFORMS="([^"]*)"', line)
            paths = [package.group(1)] if package else []
            paths += transforms.group(1).split(";") if transforms else []
            if not package:
                problems.append("no package")
            for winpath in paths:
                path = self.unix(winpath)
                # The stub writes into the extraction folder, or into a
                # temporary file when it cannot create a file there.
                inside = path is not None and (self.extraction in path.parents or (
                    path.parent == self.temp and path.name.upper().startswith("KXC")))
                if not inside:
                    elsewhere.append(winpath)
                elif not path.is_file() or path.read_bytes() not in originals:
                    problems.append(f"msiexec got {winpath}, which is no intact stream")
        left = self.leftovers(originals)
        if left:
            problems.append("left behind: " + ", ".join(left))
        if len(records) > 1:
            problems.append(f"msiexec ran {len(records)} times")
        if code != 0:
            problems.append(f"exit code {code} after msiexec")
        if problems:
            return outcome("c", "bad hand-over", "; ".join(problems) + " | " + records[0]["cmdline"]
                           + " " + detail)
        if elsewhere:
            return outcome("h", "msiexec ran with a path the damaged header names",
                           " ".join(f'"{p}"' for p in elsewhere))
        return outcome("b", "installed" + (" after a message" if detail else ""), detail)

    def records(self):
        if not self.record.exists():
            return []
        blocks = self.record.read_bytes().decode("utf-8", "replace").split("--\r\n")
        return [dict(line.split("=", 1) for line in b.split("\r\n") if "=" in line)
                for b in blocks if b.strip()]

    def judge(self, base, mutation, r):
        def outcome(verdict, what, detail=""):
            return Outcome(mutation, verdict, what, detail, code, int(r.get("ms", 0)))

        code = None
        if "error" in r:
            # CreateProcess refused the image: nothing of it ran.
            if r["error"].startswith("CreateProcess"):
                return outcome("a", "not started: the system refused the image", r["error"])
            return outcome("c", "series error", r["error"])
        code = int(r["exit"])
        boxes = [b for b in r.get("boxes", "").split("|") if b]
        detail = "; ".join(boxes)
        crash = r.get("crash", "")
        # What a program of the run that is not under the probe (msiexec,
        # a runtime installer) reports of its own faults.
        stray = [line.strip() for line in self.stray if "exception" in line.lower()]
        self.stray = []
        faulted = crash or r["hang"] == "1" or code not in CLEAN_EXITS
        if faulted and r.get("started") == "1" and mutation is not None and \
                mutation.field.loader and "0" in (r.get("code"), r.get("bound")):
            # The entry routine ran, but the loader had mapped other bytes
            # over the stub's code (a section moved onto it, say), or left
            # its imports unbound (their table cut off a shortened section).
            what = ("the loader laid other bytes over the stub's code" if r.get("code") == "0"
                    else "the loader started the stub with its imports unbound")
            return outcome("x", what, crash or f"exit {code}")
        if faulted and r.get("started") == "0":
            # The stub's entry routine was never reached: the system
            # refused the image, or its loader started it elsewhere or
            # failed in its own hands.
            what = (f"{code:#x}" if code >= 0xC0000000 else "hang" if r["hang"] == "1"
                    else f"exit {code}") + (f" crash {crash}" if crash else "")
            if mutation is not None and mutation.field.loader:
                return outcome("x", "the damaged image faulted or stalled in the loader's hands",
                               what)
            return outcome("a", "not started: the system refused the image", what)
        if crash:
            return outcome("c", f"crash {crash}", detail)
        if stray:
            return outcome("c", "a program of the run faulted", " ".join(stray)[:300])
        if r["hang"] == "1":
            return outcome("c", "hang", detail + " " + " ".join(self.leftovers()))
        if any(b.startswith("window ") for b in boxes):
            return outcome("c", "a window other than a message box in a quiet run", detail)
        if code >= 0xC0000000:
            return outcome("c", f"crash {code:#x}", detail)
        records = self.records()
        if records:
            return self.judge_hand_over(base, records, code, outcome, detail)
        left = self.leftovers()
        if left:
            return outcome("c", "left files behind", ", ".join(left) + " " + detail)
        if code not in CLEAN_EXITS:
            return outcome("c", f"exit code {code}", detail)
        if r.get("password", "0") not in ("0", "1"):
            return outcome("a", f"password refused, exit {code}", detail)
        if boxes:
            return outcome("a", f"message, exit {code}", boxes[0][:80])
        return outcome("a", f"silent exit {code}")


def copy_prefix(index):
    """A hard-linked copy of the session's prefix; the registry files and
    the system's INI files, which Wine may rewrite, are real copies. The
    series only ever adds files to the copy, or unlinks them."""
    target = BUILD / f"{PREFIX.name}-series{index}"
    remove_prefix(target)
    subprocess.run(["cp", "-al", str(PREFIX), str(target)], check=True)
    rewritten = list(target.glob("*.reg")) + list((target / "drive_c" / "windows").glob("*.ini"))
    for path in rewritten:
        path.unlink()
        shutil.copy2(PREFIX / path.relative_to(target), path)
    return target


def remove_prefix(target):
    if target.exists():
        env = dict(os.environ, WINEPREFIX=str(target))
        subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)
        subprocess.run(["wineserver", "-w"], env=env, timeout=60)
        shutil.rmtree(target, ignore_errors=True)


SERIES_SETTINGS = ((UNMANAGED_KEY, "Managed", "REG_SZ", "N"),
                   (CRASH_DIALOG_KEY, "ShowCrashDialog", "REG_DWORD", "0"))


def prepare_prefix(env):
    """The settings that make a quiet series quick, in the prefix of env."""
    for key, value, kind, data in SERIES_SETTINGS:
        r = subprocess.run([WINE, "reg", "add", key, "/v", value, "/t", kind, "/d", data, "/f"],
                           env=env, capture_output=True, timeout=120)
        assert r.returncode == 0, r.stderr


def unprepare_prefix(wine):
    """Takes the series' settings out of the session's prefix again."""
    wine.reg_delete(UNMANAGED_KEY.rsplit("\\", 1)[0])
    wine.reg_delete(CRASH_DIALOG_KEY, "ShowCrashDialog")


def series_environment(wine, lang, record_msiexec=True):
    env = wine.environment(record_msiexec=record_msiexec, lang=lang)
    env["WINEDLLOVERRIDES"] += QUIET_AUDIO
    return env


def run_all(wine, jobs, workers, lang, log=None):
    """Runs each (base, mutation) of jobs; returns the outcomes in order.
    Worker 0 uses the session's prefix, the others copies of it. Each run
    is written to log as it ends."""
    base_env = series_environment(wine, lang)
    prefixes = [(PREFIX, base_env)]
    for k in range(1, workers):
        target = copy_prefix(k)
        prefixes.append((target, dict(base_env, WINEPREFIX=str(target))))
    results = [None] * len(jobs)
    lock = threading.Lock()
    pending = list(range(len(jobs)))
    errors = []
    deadline = time.monotonic() + MATRIX_BUDGET_SECONDS

    def work(prefix, env):
        series = None
        try:
            if prefix != PREFIX:
                prepare_prefix(env)
            series = Series(wine, prefix, env)
            while True:
                with lock:
                    if not pending or time.monotonic() > deadline:
                        return
                    i = pending.pop(0)
                base, mutation = jobs[i]
                results[i] = o = series.run(base, mutation)
                if log:
                    with lock:
                        log.write(f"{o.verdict} {o.ms:6} ms  {mutation.label if mutation else base.name + ' unmutated'}:"
                                  f" {o.what} {o.detail}\n")
                        log.flush()
        except Exception as e:  # reported by the caller
            errors.append(e)
        finally:
            if series:
                series.close()

    threads = [threading.Thread(target=work, args=p) for p in prefixes]
    try:
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    finally:
        for target, _ in prefixes[1:]:
            remove_prefix(target)
    if errors:
        raise errors[0]
    done = sum(r is not None for r in results)
    if done < len(jobs):
        raise RuntimeError(f"the matrix ran over its {MATRIX_BUDGET_SECONDS} s: "
                           f"{done} of {len(jobs)} runs ended")
    return results


def counted(counts):
    return " ".join(f"{k}={counts[k]:3}" for k in ("a", "b", "h", "c", "x"))


def summary(outcomes, seconds):
    """The class counts per region and field group, and every fault."""
    lines = [f"corruption matrix: {len(outcomes)} runs in {seconds:.0f} s"]
    regions = {}
    for o in outcomes:
        key = o.mutation.field.region if o.mutation else "control"
        regions.setdefault(key, []).append(o)
    total = {"a": 0, "b": 0, "h": 0, "c": 0, "x": 0}
    for region, items in regions.items():
        counts = {"a": 0, "b": 0, "h": 0, "c": 0, "x": 0}
        for o in items:
            counts[o.verdict] += 1
            total[o.verdict] += 1
        lines.append(f"  {region:14} {len(items):4} runs: " + counted(counts))
    lines.append(f"  {'all':14} {len(outcomes):4} runs: " + counted(total))
    kinds = {}
    for o in outcomes:
        kinds[(o.verdict, o.what)] = kinds.get((o.verdict, o.what), 0) + 1
    lines.append("  endings:")
    for (verdict, what), n in sorted(kinds.items()):
        lines.append(f"    {verdict} {n:4}  {what}")
    for o in outcomes:
        if o.verdict in ("c", "x", "h"):
            label = o.mutation.label if o.mutation else "control"
            lines.append(f"  {o.verdict.upper()}: {label}: {o.what} {o.detail}".rstrip())
    return "\n".join(lines)
