"""What the benchmarks share: timing, reporting and a padded package."""
import statistics
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))
from packer import make_package  # noqa: E402


def timed(command, **kw):
    start = time.perf_counter()
    subprocess.run(command, check=True, capture_output=True, **kw)
    return time.perf_counter() - start


def timed_call(function):
    start = time.perf_counter()
    function()
    return time.perf_counter() - start


def report(name, samples, unit="s", scale=1.0):
    values = [v * scale for v in samples]
    print(f"{name}: median {statistics.median(values):.3f} {unit}, "
          f"min {min(values):.3f} {unit} ({len(values)} runs)", flush=True)
    return statistics.median(values)


def padded_package(path, size):
    """A real package padded to size bytes: packer and stub read it whole."""
    with open(path, "wb") as f:
        f.write(make_package().read_bytes())
        block = bytes(range(256)) * 4096
        while f.tell() < size:
            f.write(block[:size - f.tell()])
    return path
