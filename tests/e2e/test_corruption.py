"""The corruption matrix: a packed setup.exe with a password, two
transforms and both runtime streams, damaged in a fixed sample of ways
(payload header, texts, language entries, stream sizes, streams, PE
headers) and cut short at every section boundary and inside the payload,
each mutant run quietly under Wine. Every run must end cleanly or install
the intact package; none may crash, hang, leave files behind or hand
msiexec bytes that are not the package's (corruption.py has the classes).

The class counts go to build/corruption-summary.txt (and to the output
with -s)."""
import os
import random
import shutil
import time

import pytest

from corruption import (Base, Series, fixed_cases, payload_fields, pe_fields, prepare_prefix,
                        run_all, sample, series_environment, summary, truncations,
                        unprepare_prefix)
from packages import guid
from packer import inspect, make_package, pack, with_storage_class
from pe import PeImage
from runtime_fixtures import padded_fake
from winehost import BUILD, PREFIX, TESTBIN

PASSWORD = "Secret7"
CODE = guid("corruption-matrix")
PRODUCT = "Kest Corruption"
# The user's language picks the second transform, so that the first one's
# size is read to skip it.
LANG = "fr_FR.UTF-8"
SEED = 20261209
# Series at once, each in a prefix of its own.
WORKERS = int(os.environ.get("KEST_CORRUPTION_WORKERS", "4"))
SUMMARY = BUILD / "corruption-summary.txt"
LOG = BUILD / "corruption-log.txt"


def stage(wine, name, runtimes):
    folder = wine.scratch("corruption-" + name)
    shutil.copy2(make_package(code=CODE, product=PRODUCT), folder / "sample.msi")
    transforms = []
    for k in (1, 2):
        mst = with_storage_class(folder / "sample.msi", folder / f"lang{k}.mst")
        with open(mst, "ab") as f:
            f.write(bytes([k]) * (1000 * k))
        transforms.append(mst)
    shutil.copy2(TESTBIN / "fake_runtime.exe", folder / "first.exe")
    (folder / "second.exe").write_bytes(padded_fake((folder / "first.exe").stat().st_size + 4096))
    installer = {"ProductName": PRODUCT, "ProductCode": CODE, "ProductVersion": "1.0.0",
                 "ProductFile": "sample.msi", "CmdLine": "/qn", "CRCError": "Damaged: CRC.",
                 "KestInitLangDefault": "English,1033", "Language1": "Deutsch,1031",
                 "Language2": "Francais,1036", "LanguageFile1": "lang1.mst",
                 "LanguageFile2": "lang2.mst", **runtimes}
    exe = pack(folder, installer, {"Password": PASSWORD})
    info = inspect(exe, PASSWORD)
    assert info["problems"] == [] and len(info["streams"]) == 5, info
    return Base(name, exe, folder / "sample.msi", transforms, PASSWORD), info


@pytest.fixture(scope="module")
def bases(wine):
    # Windows Installer runtimes carried but not needed: no runtime step,
    # the quick base for most mutants. The .NET pair is always too old
    # here, so both of its streams are extracted and run every time.
    lean = stage(wine, "lean", {"Runtime9X": "first.exe", "RuntimeNT": "second.exe"})
    dotnet = stage(wine, "dotnet", {"RuntimeVersion": "99.0.0.0", "RuntimeDotNet": "first.exe",
                                    "RuntimeDotNetUpdate": "second.exe"})
    return {"lean": lean, "dotnet": dotnet}


def plan(bases):
    """The fixed sample: (base, mutation) pairs, region by region."""
    rng = random.Random(SEED)
    lean, lean_info = bases["lean"]
    dotnet, dotnet_info = bases["dotnet"]
    lean_fields = payload_fields(lean.data, lean_info) + pe_fields(lean.data)
    dotnet_fields = payload_fields(dotnet.data, dotnet_info)

    def of(fields, region, names=None):
        return [f for f in fields if f.region == region and (names is None or any(
            n in f.name for n in names))]

    def weighted(f):
        return min(f.length, 64)

    groups = [
        (lean, of(lean_fields, "header"), 58),
        (lean, of(lean_fields, "texts"), 20),
        (lean, of(lean_fields, "languages"), 32),
        (lean, of(lean_fields, "sizes"), 30),
        (dotnet, of(dotnet_fields, "sizes", ("StreamSizeNT", "StreamSize9X")), 12),
        (lean, of(lean_fields, "streams", ("package", "transform")), 44),
        (lean, of(lean_fields, "streams", ("runtime",)), 6),
        (dotnet, of(dotnet_fields, "streams", ("runtime",)), 26),
        (lean, of(lean_fields, "pe"), 42),
        (lean, of(lean_fields, "section-table"), 20),
        (lean, of(lean_fields, "kest-section"), 15),
    ]
    jobs = []
    for base, fields, count in groups:
        assert fields, (base.name, count)
        jobs += [(base, m) for m in sample(rng, base.name, base.data, fields, count, weighted)]
    jobs += [(lean, m) for m in fixed_cases("lean", lean.data)]
    image = PeImage(lean.data)
    marks = [lean_info["payloadOffset"], lean_info["textRegionOffset"],
             lean_info["streamsOffset"]] + [s["offset"] for s in lean_info["streams"]] + \
            [s["offset"] + s["size"] for s in lean_info["streams"]]
    marks = sorted({m for m in marks if m < len(lean.data)})
    jobs += [(lean, m) for m in truncations("lean", lean.data, image, marks,
                                            lean_info["payloadOffset"] + 8)]
    return jobs


@pytest.fixture(scope="module")
def quick(wine):
    """The session's prefix with the series' settings for the module."""
    prepare_prefix(series_environment(wine, LANG))
    yield wine
    unprepare_prefix(wine)


@pytest.fixture(scope="module")
def matrix(quick, bases):
    wine = quick
    jobs = plan(bases)
    # The unmutated files first: the series itself must work.
    controls = [(bases["lean"][0], None), (bases["dotnet"][0], None)]
    started = time.monotonic()
    with open(LOG, "w") as log:
        outcomes = run_all(wine, controls + jobs, WORKERS, LANG, log)
    seconds = time.monotonic() - started
    text = summary(outcomes, seconds)
    SUMMARY.write_text(text + "\n")
    print("\n" + text)
    return outcomes


def test_matrix_has_the_planned_spread(bases):
    jobs = plan(bases)
    mutations = [m for _, m in jobs if m.op != "truncate"]
    assert len(mutations) >= 300
    regions = {m.field.region for m in mutations}
    assert regions == {"header", "texts", "languages", "sizes", "streams", "pe",
                       "section-table", "kest-section"}
    ops = {m.op for m in mutations}
    assert ops == {"flip", "set", "+1", "-1", "large"}
    # The same sample every time.
    assert [m.label for _, m in plan(bases)] == [m.label for _, m in jobs]
    assert len([m for _, m in jobs if m.op == "truncate"]) >= 55


def test_unmutated_files_install_through_the_series(matrix):
    controls = [o for o in matrix if o.mutation is None]
    assert len(controls) == 2
    assert all(o.verdict == "b" and o.what == "installed" for o in controls), \
        [(o.what, o.detail) for o in controls]


def test_no_mutant_crashes_hangs_leaves_files_or_hands_over_bad_bytes(matrix):
    faults = [f"{o.mutation.label}: {o.what} {o.detail}" for o in matrix if o.verdict == "c"]
    assert faults == [], "\n".join(faults)
    # Only the header can name another path for msiexec: damage to a
    # stream or a size never gets that far.
    assert {o.mutation.field.region for o in matrix if o.verdict == "h"} <= {"header", "texts"}


def test_unmutated_and_unread_damage_install_for_real(quick, bases, matrix):
    """The recording msiexec stands in above; here Wine's own Windows
    Installer installs the untouched file, and a mutant whose damage lies
    in a stream the run does not read (the first transform, while the
    user's language picks the second)."""
    wine = quick
    lean = bases["lean"][0]
    unread = next(o.mutation for o in matrix if o.mutation and o.verdict == "b"
                  and o.mutation.field.name == "transform 1")
    series = Series(wine, PREFIX, series_environment(wine, LANG, record_msiexec=False))
    try:
        for mutation in (None, unread):
            try:
                report = series.start(lean, mutation, limit=240000)
                assert report.get("exit") == "0" and report.get("boxes") == "", report
                assert wine.product_value(CODE, "DisplayVersion") == "1.0.0"
                assert (wine.program_files_x86() / PRODUCT / "readme.txt").exists()
            finally:
                wine.msiexec("/x", CODE, "/qn")
                series.clean()
            assert wine.product_value(CODE, "DisplayVersion") is None
    finally:
        series.close()
