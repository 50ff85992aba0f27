"""Benchmark of the embedded payload with a 100 MB package: kestpack build
(with and without a password), kestpack inspect, the stub's locator and
header read (timed inside the process under Wine), and a whole run of the
packed stub. Run with `make bench`; prints one line per figure."""
import statistics
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))
from packer import KESTPACK, make_package  # noqa: E402
from stub import Setup  # noqa: E402
from winehost import Display, Wine  # noqa: E402

SIZE = 100 * 1000 * 1000
RUNS = 5


def timed(command):
    start = time.perf_counter()
    subprocess.run(command, check=True, capture_output=True)
    return time.perf_counter() - start


def report(name, samples, unit="s", scale=1.0):
    values = [v * scale for v in samples]
    print(f"{name}: median {statistics.median(values):.3f} {unit}, "
          f"min {min(values):.3f} {unit} ({len(values)} runs)")


def main():
    display = Display()
    wine = Wine(display)
    try:
        folder = wine.scratch("bench")
        # A real package padded to 100 MB: the packer reads it as a whole.
        package = folder / "big.msi"
        with open(package, "wb") as f:
            f.write(make_package().read_bytes())
            block = bytes(range(256)) * 4096
            while f.tell() < SIZE:
                f.write(block[:SIZE - f.tell()])
        for name, extra in (("plain", ""), ("password", "[KestPack]\r\nPassword=secret\r\n")):
            ini = folder / f"{name}.ini"
            ini.write_text("[KestInstaller]\r\nProductCode={11111111-2222-3333-4444-555555555555}"
                           "\r\nProductVersion=1.0\r\nProductFile=big.msi\r\n" + extra)
            out = folder / f"{name}.exe"
            report(f"kestpack build, 100 MB package, {name}",
                   [timed([KESTPACK, "build", ini, "-o", out]) for _ in range(RUNS)])
            args = ["--password", "secret"] if name == "password" else []
            report(f"kestpack inspect (CRC of every stream), {name}",
                   [timed([KESTPACK, "inspect", out, *args]) for _ in range(RUNS)])

        packed = folder / "plain.exe"
        reads = []
        for _ in range(RUNS * 2):
            r = wine.tool("payload_test.exe", "header", wine.win(packed))
            line = [ln for ln in r.stdout.splitlines() if ln.startswith("readMicroseconds=")][0]
            reads.append(int(line.split("=")[1]))
        report("stub LocatePayload + ReadPayloadHeader, 100 MB payload (in process)",
               reads, "us")

        setup = Setup(wine, "bench-run", stub=packed)
        runs = []
        for _ in range(RUNS):
            start = time.perf_counter()
            assert setup.run(timeout=120) == 0
            runs.append(time.perf_counter() - start)
        report("whole run of the packed stub under Wine (start to exit)", runs)
        small = Setup(wine, "bench-small").settings(
            ProductCode="{11111111-2222-3333-4444-555555555555}", ProductVersion="1.0")
        runs = []
        for _ in range(RUNS):
            start = time.perf_counter()
            assert small.run(timeout=120) == 0
            runs.append(time.perf_counter() - start)
        report("whole run of the plain stub with a settings file, for comparison", runs)
    finally:
        wine.close()
        display.close()


if __name__ == "__main__":
    main()
