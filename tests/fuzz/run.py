"""Runs the fuzzers: first every kept regression input once, then each
fuzzer for a set time on its seeds, its working corpus and those inputs.
Prints the executions of each and ends with status 1 on any crash, leak,
timeout or broken check; the input that caused it is saved under
build/fuzz/artifacts/<fuzzer>/ and named in the output.

usage: run.py [--short] BUILD_DIR SECONDS [FUZZER...]
FUZZ_JOBS (default 2) fuzzers run side by side. A long run keeps what each
fuzzer finds in build/fuzz/corpus/ for the next; a --short one starts from
the seeds and kept inputs alone, so that its time does not grow with that
corpus."""
import shutil
import concurrent.futures
import os
import re
import subprocess
import sys
import time
from pathlib import Path

import seeds

HERE = Path(__file__).resolve().parent
REGRESSIONS = HERE / "regressions"


def stat(log, key):
    m = re.search(rf"stat::{key}:\s*(\d+)", log)
    return int(m.group(1)) if m else 0


def tail(text, lines=40):
    return "\n".join(text.splitlines()[-lines:])


def main():
    args = sys.argv[1:]
    short = args[:1] == ["--short"]
    if short:
        args = args[1:]
    build, seconds = Path(args[0]).resolve(), int(args[1])
    wanted = set(args[2:])
    fuzzers = sorted(p for p in (build / "bin").glob("*_fuzz") if not wanted or p.name in wanted)
    if not fuzzers:
        raise SystemExit(f"fuzz: no fuzzers under {build / 'bin'}")
    corpus_root = seeds.generate(build)
    # Files that a fuzzer leaves behind when it ends abruptly stay in the
    # build tree, until the next run.
    scratch = build / "tmp"
    shutil.rmtree(scratch, ignore_errors=True)
    scratch.mkdir()
    env = dict(os.environ, TMPDIR=str(scratch),
               ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:allocator_may_return_null=1",
               UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1")

    def one(fuzzer):
        """Returns the row of the table and the text to show on failure."""
        name = fuzzer.name
        kept = sorted(p for p in (REGRESSIONS / name).glob("*") if p.is_file())
        if kept:
            r = subprocess.run([str(fuzzer), *map(str, kept)], env=env, capture_output=True,
                               text=True, errors="replace")
            if r.returncode != 0:
                return ((name, 0, 0, 0, len(kept), "FAILED"),
                        f"{name}: a regression input fails again\n{tail(r.stderr)}")
        corpus = build / ("short-corpus" if short else "corpus") / name
        if short:
            shutil.rmtree(corpus, ignore_errors=True)
        corpus.mkdir(parents=True, exist_ok=True)
        artifacts = build / "artifacts" / name
        artifacts.mkdir(parents=True, exist_ok=True)
        command = [str(fuzzer), f"-max_total_time={seconds}", "-timeout=10",
                   "-rss_limit_mb=2048", "-print_final_stats=1",
                   f"-artifact_prefix={artifacts}/", str(corpus), str(corpus_root / name)]
        if kept:
            command.append(str(REGRESSIONS / name))
        r = subprocess.run(command, env=env, capture_output=True, text=True, errors="replace")
        row = (name, stat(r.stderr, "number_of_executed_units"),
               stat(r.stderr, "average_exec_per_sec"), len(list(corpus.iterdir())), len(kept),
               "ok" if r.returncode == 0 else "FAILED")
        if r.returncode == 0:
            return row, None
        found = re.findall(r"Test unit written to (\S+)", r.stderr)
        return row, (f"{name}: failed; input: {found[-1] if found else '(none written)'}\n"
                     f"{tail(r.stderr)}")

    started = time.monotonic()
    jobs = max(1, int(os.environ.get("FUZZ_JOBS", "2")))
    with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
        results = list(pool.map(one, fuzzers))
    rows = [row for row, _ in results]
    failed = [row[0] for row in rows if row[-1] != "ok"]
    for _, problem in results:
        if problem:
            print(problem)

    width = max(len(r[0]) for r in rows) if rows else 10
    print(f"{'fuzzer':<{width}}  {'executions':>11}  {'exec/s':>8}  {'corpus':>6}  "
          f"{'kept':>4}  result")
    for name, runs, rate, size, kept, result in rows:
        print(f"{name:<{width}}  {runs:>11,}  {rate:>8,}  {size:>6}  {kept:>4}  {result}")
    print(f"fuzz: {len(fuzzers)} fuzzers, {seconds} s each, {time.monotonic() - started:.0f} s "
          f"in all" + (f"; FAILED: {' '.join(failed)}" if failed else ""))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
