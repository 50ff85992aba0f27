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


def table(rows, size):
    """rows: [name, median s, min s or None, comparison, moves size bytes];
    a median of None is a row that was not measured."""
    width = max(len(r[0]) for r in rows)
    lines = [f"{'':{width}}  {'median':>8}  {'min':>8}  {'MiB/s':>6}  compared",
             f"{'':{width}}  {'s':>8}  {'s':>8}"]
    for name, median, least, comparison, rate in rows:
        if median is None:
            lines.append(f"{name:{width}}  {'-':>8}  {'-':>8}  {'-':>6}  {comparison}")
            continue
        least = f"{least:8.3f}" if least is not None else f"{'':8}"
        speed = f"{size / median / 2**20:6.0f}" if rate else f"{'':6}"
        lines.append(f"{name:{width}}  {median:8.3f}  {least}  {speed}  {comparison}")
    return "\n".join(lines)
