"""Benchmark of the embedded payload with a 100 MB package: kestpack build
(with and without a password), kestpack inspect, the stub's locator and
header read (timed inside the process under Wine), and a whole run of the
packed stub. Run with `make bench`; prints one line per figure."""
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from benchlib import padded_package, report, timed  # noqa: E402
from packer import KESTPACK  # noqa: E402
from stub import Setup  # noqa: E402
from winehost import ARCH_LINE, Display, Wine  # noqa: E402

SIZE = 100 * 1000 * 1000
RUNS = 5


def main():
    print(ARCH_LINE.replace("e2e: ", "bench: ", 1))
    display = Display()
    wine = Wine(display)
    try:
        folder = wine.scratch("bench")
        package = padded_package(folder / "big.msi", SIZE)
        for name, extra in (("plain", ""), ("password", "[KestPack]\r\nPassword=secret\r\n")):
            ini = folder / f"{name}.ini"
            ini.write_text("[KestInstaller]\r\nProductCode={4B657374-4265-6E63-6800-000000000001}"
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
            assert setup.run(timeout=120, record_msiexec=True) == 0
            runs.append(time.perf_counter() - start)
        report("whole run of the packed stub under Wine, extraction included (start to exit)", runs)
        small = Setup(wine, "bench-small").settings(
            ProductCode="{4B657374-4265-6E63-6800-000000000001}", ProductVersion="1.0")
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
