"""Benchmark of extraction under Wine: a 256 MiB package copied out of a
packed setup.exe by the stub's own CopyStream, plain and password-scrambled,
against dd copying the same bytes with 64 KiB blocks in the same run; and
the whole packed stub, start to exit. Run with `make bench`."""
import os
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from benchlib import padded_package, report, timed, timed_call  # noqa: E402
from packer import inspect, pack  # noqa: E402
from winehost import ARCH_LINE, STUB, Display, Wine  # noqa: E402

SIZE = 256 * 1024 * 1024
RUNS = 5
CODE = "{4B657374-4265-6E63-6800-000000000001}"


def main():
    print(ARCH_LINE.replace("e2e: ", "bench: ", 1))
    display = Display()
    wine = Wine(display)
    try:
        folder = wine.scratch("extract-bench")
        padded_package(folder / "big.msi", SIZE)
        installer = {"ProductCode": CODE, "ProductVersion": "1.0", "ProductFile": "big.msi",
                     "CmdLine": "/qn"}
        plain = pack(folder, installer, out="plain.exe")
        scrambled = pack(folder, installer, {"Password": "secret"}, out="scrambled.exe")
        target = folder / "out.bin"

        def copy_stream(exe, password):
            stream = inspect(exe, password if password != "-" else None)["streams"][0]
            samples = []
            for _ in range(RUNS):
                r = wine.tool("stream_test.exe", "bench", wine.win(exe), str(stream["offset"]),
                              str(stream["size"]), wine.win(target), password, timeout=600)
                assert "result=0" in r.stdout, r.stdout + r.stderr
                samples.append(int(r.stdout.split("microseconds=")[1]) / 1e6)
                target.unlink()
            return samples

        def dd():
            subprocess.run(["dd", f"if={folder / 'big.msi'}", f"of={target}", "bs=64k"],
                           check=True, capture_output=True)
            target.unlink()

        dd()  # the source into the page cache, as for the stub's runs
        copy = report("dd, 256 MiB, 64 KiB blocks", [timed_call(dd) for _ in range(RUNS)])
        for name, exe, password in (("plain", plain, "-"), ("password-scrambled", scrambled, "secret")):
            median = report(f"stub CopyStream, 256 MiB, {name} (in process)",
                            copy_stream(exe, password))
            print(f"  {SIZE / median / 2**20:.0f} MiB/s, {median / copy:.1f} x the dd copy")

        # The payload's own switches are never scanned for the quiet switch:
        # only the user's /qn keeps the progress window away.
        for arguments, name in (("/qn", "quiet"), ("", "with the progress window")):
            runs = [timed_call(lambda: wine.run(plain, f'"{wine.win(plain)}" {arguments}'.rstrip(),
                                                record_msiexec=True, timeout=600))
                    for _ in range(RUNS)]
            report(f"whole packed stub, 256 MiB, plain, {name} (start to exit)", runs)
        print(f"stub size: {os.path.getsize(STUB)} bytes")
    finally:
        wine.close()
        display.close()


if __name__ == "__main__":
    main()
