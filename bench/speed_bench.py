"""How fast a packed setup.exe gets a 256 MiB package out, against what
the same work costs at the least, in one run on one machine.

The floor of the work is what no bootstrap under Wine can go below: one
empty Wine process started the way the stub is started, dd copying the
same bytes, and zlib's CRC-32 over them natively. Every whole run of the
stub is given as a ratio to that floor; beside them stand an NSIS installer
that stores the same file uncompressed, the stub's CopyStream alone inside
a test program, and kestpack building and inspecting the package.
Each figure is the median of RUNS runs after one run that is not counted,
with the files in the page cache, one wineserver and one Wine desktop for
the whole session; a Windows program's run lasts from its start through
launch.exe until launch.exe ends. Run with `make bench`."""
import os
import shutil
import statistics
import subprocess
import sys
import time
import zlib
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from benchlib import padded_package, table, timed  # noqa: E402
from packer import KESTPACK, inspect, make_package, pack  # noqa: E402
from stub import Setup  # noqa: E402
from winehost import ARCH, ARCH_LINE, ROOT, STUB, WINE, X64, Display, Wine  # noqa: E402

SIZE = 256 * 1024 * 1024
RUNS = 5
CODE = "{4B657374-4265-6E63-6800-000000000001}"
PASSWORD = "secret"
# Where the stub puts the package it extracts.
WIZARD = ("Program Files", "Common Files", "Kest Installation Wizard")
# The sources of the stub and of kestpack: a figure belongs to the commit
# they were built at.
SOURCES = ("payload", "driver", "ui", "common", "transfer", "runtime", "pack", "cmake",
           "CMakeLists.txt")
NSIS_STUBS = Path("/usr/share/nsis/Stubs")


def samples(function):
    """One run to warm up, then RUNS timed ones; function returns its own
    figure, or None to be timed from outside."""
    function()
    out = []
    for _ in range(RUNS):
        start = time.perf_counter()
        value = function()
        out.append(time.perf_counter() - start if value is None else value)
    return out


def warm(*paths):
    """Reads files whole, so that every run finds them in the page cache."""
    for path in paths:
        with open(path, "rb") as f:
            while f.read(1 << 20):
                pass


def crc32_of(path):
    crc = 0
    with open(path, "rb") as f:
        while block := f.read(1 << 20):
            crc = zlib.crc32(block, crc)
    return crc


def stub_revision():
    """The commit the stub and kestpack were built at: the checkout's, the
    last one that changed their sources, and whether they differ from it."""
    def git(*args):
        return subprocess.run(["git", *args], cwd=ROOT, check=True, capture_output=True,
                              text=True).stdout.strip()
    try:
        head = git("rev-parse", "--short", "HEAD")
        last = git("log", "-1", "--format=%h", "--", *SOURCES)
        dirty = git("status", "--porcelain", "--", *SOURCES)
    except (OSError, subprocess.CalledProcessError):
        return "no git checkout"
    return (f"checkout at {head}, sources last changed at {last}"
            + (", with uncommitted changes to them" if dirty else ""))


def nsis_installer(folder, package):
    """An NSIS installer that stores package uncompressed and installs it
    silently into the folder given by /D=; or None and why not."""
    if not shutil.which("makensis"):
        return None, "makensis is not installed (make deps installs nsis)"
    # NSIS installers are 32-bit programs by default; where the host runs
    # none, its 64-bit stub is the only one that can run, and is the
    # fairer match for the 64-bit stub besides.
    target = "amd64-unicode" if X64 else "x86-unicode"
    if not (NSIS_STUBS / f"zlib-{target}").exists():
        why = ("this host runs no 32-bit programs and makensis has no 64-bit stub" if X64
               else f"makensis has no {target} stub")
        return None, why
    script = folder / "nsis.nsi"
    script.write_text("\n".join([
        f"Target {target}",
        'Name "Kest bench"',
        f'OutFile "{folder / "nsis.exe"}"',
        "SetCompress off",
        "CRCCheck on",
        "SilentInstall silent",
        "RequestExecutionLevel user",
        'InstallDir "C:\\nsis-bench"',
        "Section",
        "  SetOutPath $INSTDIR",
        f'  File "{package}"',
        "SectionEnd",
        ""]))
    r = subprocess.run(["makensis", "-V2", str(script)], capture_output=True, text=True)
    if r.returncode != 0:
        return None, f"makensis failed: {r.stdout}{r.stderr}".strip()
    return folder / "nsis.exe", f"NSIS {target} stub, stored, silent"


def main():
    started = time.perf_counter()
    print(ARCH_LINE.replace("e2e: ", "bench: ", 1))
    print(f"bench: stub {STUB.relative_to(ROOT)}, {os.path.getsize(STUB)} bytes, "
          f"{stub_revision()}", flush=True)
    display = Display()
    wine = Wine(display)
    desktop = None
    rows = []

    def row(name, values, rate=True):
        """A figure of the table; rate: whether it moves the package's bytes."""
        median = statistics.median(values)
        rows.append([name, median, min(values), "", rate])
        print(f"  {name}: median {median:.3f} s, min {min(values):.3f} s", flush=True)
        return median

    def note(text):
        rows[-1][3] = text

    try:
        desktop = keep_desktop(wine)
        folder = wine.scratch("speed-bench")
        package = padded_package(folder / "big.msi", SIZE)
        # The package names its own code and version.
        installer = {"ProductFile": "big.msi", "CmdLine": "/qn"}
        plain = pack(folder, installer, out="plain.exe")
        # The same installer around the bare package: what the window and
        # the extraction cost before the bytes.
        small_folder = wine.scratch("speed-tiny")
        shutil.copy2(make_package(), small_folder / "big.msi")
        tiny = pack(small_folder, installer, out="tiny.exe")
        scrambled = pack(folder, installer, {"Password": PASSWORD}, out="scrambled.exe")
        nsis, nsis_note = nsis_installer(folder, package)
        warm(package, plain, scrambled, *([nsis] if nsis else []))
        target = folder / "out.bin"
        extracted = wine.drive_c.joinpath(*WIZARD)
        print(f"bench: {SIZE >> 20} MiB package, median of {RUNS} runs each", flush=True)

        # The floor: Wine's start, the copy and the checksum.
        five = wine.tools / "five_imports.exe"

        def empty_start():
            seconds, code = start_to_exit(wine, five, f'"{wine.win(five)}"')
            assert code == 0
            return seconds

        def dd():
            seconds = timed(["dd", f"if={package}", f"of={target}", "bs=64k"])
            target.unlink()
            return seconds

        def checksum():
            crc32_of(package)

        start = row("empty Wine process start (five_imports.exe via launch.exe)",
                    samples(empty_start), rate=False)
        copy = row("dd of the same bytes, 64 KiB blocks", samples(dd))
        crc = row("zlib CRC-32 over them, native", samples(checksum))
        floor = start + copy + crc
        rows.append(["floor of the work = Wine start + dd + CRC-32", floor, None, "", True])
        print(f"  floor: {floor:.3f} s", flush=True)

        # The stub's whole runs, start to exit, msiexec a recording stand-in.
        dialog = []
        def whole(exe, arguments="", password=None):
            shutil.rmtree(extracted, ignore_errors=True)
            wine.clear_records()
            command = f'"{wine.win(exe)}" {arguments}'.rstrip()
            if password is None:
                seconds, code = start_to_exit(wine, exe, command)
                assert code == 0
                return seconds
            # The dialog's time is taken out: from when the answering
            # program sees it (polling every 2 ms) until it presses OK; the
            # program's own start is over before the stub starts.
            answerer = subprocess.Popen(
                [WINE, str(wine.tools / "uidriver.exe"), "answer", "Enter Password", "1005",
                 password, "1", "60000"], env=wine.environment(), stdout=subprocess.PIPE,
                stderr=subprocess.PIPE, text=True)
            assert answerer.stderr.readline().strip() == "watching"
            answer = {}

            def answer_dialog():
                assert answerer.stdout.readline().strip() == "seen"
                answer["shown"] = time.perf_counter()
                assert answerer.stdout.readline().strip() == "click"
                answer["answered"] = time.perf_counter()
                assert answerer.wait(60) == 0
            seconds, code = start_to_exit(wine, exe, command, answer_dialog)
            assert code == 0
            dialog.append(answer["answered"] - answer["shown"])
            return seconds - dialog[-1]

        def whole_runs(name, *args, rate=True, **kw):
            median = row(name, samples(lambda: whole(*args, **kw)), rate)
            assert len(wine.records()) == 1  # msiexec ran, once
            note(f"{median / floor:.2f} x floor")
            return median

        small = Setup(wine, "speed-small").settings(ProductCode=CODE, ProductVersion="1.0")
        whole_runs("Kest /qn, settings file, nothing extracted (fixed cost)", small.exe, "/qn",
                   rate=False)
        quiet = whole_runs("Kest /qn, plain", plain, "/qn")
        whole_runs("Kest with the progress window, package of a few KiB (fixed cost)", tiny,
                   rate=False)
        window = whole_runs("Kest with the progress window, plain", plain)
        secret = whole_runs("Kest with the progress window, scrambled (Password)",
                            scrambled, password=PASSWORD)
        note(rows[-1][3] + f"; {secret / window:.2f} x plain; dialog up "
             f"{statistics.median(dialog):.2f} s, taken out")

        if nsis:
            def nsis_run():
                out = folder / "nsis-out"
                shutil.rmtree(out, ignore_errors=True)
                command = f'"{wine.win(nsis)}" /S /D={wine.win(out)}'
                seconds, code = start_to_exit(wine, nsis, command)
                assert code == 0 and (out / "big.msi").stat().st_size == SIZE
                return seconds
            stored = row(f"NSIS silent install ({nsis_note})", samples(nsis_run))
            note(f"{stored / floor:.2f} x floor; Kest /qn {quiet / stored:.2f} x this, "
                 f"with the window {window / stored:.2f} x")
        else:
            rows.append(["NSIS silent install", None, None, f"skipped: {nsis_note}", False])
            print(f"  NSIS skipped: {nsis_note}", flush=True)

        # CopyStream alone, inside a test program: Wine's start left out.
        def copy_stream(exe, password):
            stream = inspect(exe, password if password != "-" else None)["streams"][0]

            def one():
                r = wine.tool("stream_test.exe", "bench", wine.win(exe), str(stream["offset"]),
                              str(stream["size"]), wine.win(target), password, timeout=600)
                assert "result=0" in r.stdout, r.stdout + r.stderr
                target.unlink()
                return int(r.stdout.split("microseconds=")[1]) / 1e6
            return samples(one)

        inner = copy + crc
        for name, exe, password in (("plain", plain, "-"), ("scrambled", scrambled, PASSWORD)):
            median = row(f"Kest CopyStream in process, {name}", copy_stream(exe, password))
            note(f"{median / inner:.2f} x (dd + CRC-32)")

        # The packer, natively.
        for name, keys, args in (("plain", None, []),
                                 ("scrambled", {"Password": PASSWORD}, ["--password", PASSWORD])):
            pack(folder, installer, keys, out=f"pack-{name}.exe")
            ini = folder / "pack.ini"
            out = folder / f"pack-{name}.exe"

            def build():
                out.unlink(missing_ok=True)  # a new file each time, as for dd
                return timed([KESTPACK, "build", ini, "-o", out, "--arch", ARCH])
            median = row(f"kestpack build, {name}", samples(build))
            note(f"{median / inner:.2f} x (dd + CRC-32)")
            median = row(f"kestpack inspect (CRC of every stream), {name}",
                         samples(lambda: timed([KESTPACK, "inspect", out, *args])))
            note(f"{median / crc:.2f} x CRC-32")
            out.unlink()

        # The stub's locator and header read, timed inside the process.
        def header():
            r = wine.tool("payload_test.exe", "header", wine.win(plain))
            line = [ln for ln in r.stdout.splitlines() if ln.startswith("readMicroseconds=")][0]
            return int(line.split("=")[1]) / 1e6
        median = row("Kest LocatePayload + ReadPayloadHeader in process", samples(header),
                     rate=False)
        note(f"{median * 1e6:.0f} us")
    finally:
        if desktop:
            desktop.kill()
            desktop.wait()
        wine.close()
        display.close()

    print()
    print(ARCH_LINE.replace("e2e: ", "bench: ", 1))
    print(f"bench: {SIZE >> 20} MiB, median of {RUNS} runs; MiB/s of the package's bytes")
    print(table(rows, SIZE))
    print("bench: the Kest runs start two Wine processes, the stub and the msiexec stand-in; "
          "the floor counts one. Wine's windows unmanaged, with no window manager on Xvfb.")
    print(f"bench: {time.perf_counter() - started:.0f} s in all.")


def start_to_exit(wine, program, command, meanwhile=None):
    """Seconds from starting program through launch.exe until launch.exe
    has ended with it, and its exit code. Whatever the program started
    (a console's conhost.exe, say) may hold the pipes a while longer; that
    is not the program's time."""
    begin = time.perf_counter()
    running = wine.start(program, command, record_msiexec=True)
    if meanwhile:
        meanwhile()
    running.process.wait(600)
    seconds = time.perf_counter() - begin
    return seconds, running.finish(60)


def keep_desktop(wine):
    """An idle Notepad for the session. Wine's desktop process ends a few
    seconds after the last window closes and starts again with the next
    one, which a run would then pay for; Windows keeps its desktop."""
    notepad = subprocess.Popen([WINE, "notepad"], env=wine.environment(),
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    wine.ui("wait", "Untitled - Notepad", "30000")
    return notepad


if __name__ == "__main__":
    main()
