"""A packed setup.exe end to end: password, removal of another version,
the package and its transform on disk, and every way extraction can fail."""
import shutil
import subprocess
import time
from pathlib import Path

import pytest

from packages import build_msi, guid, installed
from packer import copy, inspect, pack, with_storage_class
from stub import Setup
from winehost import STUB, WINE

WIZARD = ("Program Files", "Common Files", "Kest Installation Wizard")
CRC_ERROR = "Corrupt installation detected, check source media or re-download."
SPACE_ERROR = "Not enough free temporary disk space."


def extraction_dir(wine):
    return wine.drive_c.joinpath(*WIZARD)


def arguments(record):
    line = record["cmdline"]
    return line[line.index('"', 1) + 2:] if line.startswith('"') else line.split(" ", 1)[1]


@pytest.fixture
def clean_extraction(wine):
    shutil.rmtree(extraction_dir(wine), ignore_errors=True)
    yield extraction_dir(wine)
    shutil.rmtree(extraction_dir(wine), ignore_errors=True)


def packed(wine, name, installer=None, pack_keys=None, languages=0, product="Kest Packed",
           version="1.0.0", code=None):
    """setup.exe packed from a wixl package (and stand-in transforms) in a new folder."""
    folder = wine.scratch(name)
    code = code or guid("packed-" + name)
    build_msi(folder / "product.msi", name=product, version=version, product_code=code,
              seed="packed-" + name)
    keys = {"ProductName": product, "ProductCode": code, "ProductVersion": version,
            "ProductFile": "product.msi", "CmdLine": "/qn"}
    for k in range(1, languages + 1):
        # Each stand-in transform differs, so that the right one can be told apart.
        mst = with_storage_class(folder / "product.msi", folder / f"lang{k}.mst")
        with open(mst, "ab") as f:
            f.write(bytes([k]) * (1000 * k))
        keys[f"LanguageFile{k}"] = f"lang{k}.mst"
    keys.update(installer or {})
    exe = pack(folder, keys, pack_keys)
    return folder, exe, code


def run_packed(wine, exe, arguments_text="", **kw):
    return wine.run(exe, f'"{wine.win(exe)}"' + (" " + arguments_text if arguments_text else ""), **kw)


def start_packed(wine, exe, arguments_text="", **kw):
    return wine.start(exe, f'"{wine.win(exe)}"' + (" " + arguments_text if arguments_text else ""), **kw)


def test_packed_package_is_extracted_and_handed_over(wine, clean_extraction):
    folder, exe, code = packed(wine, "handover")
    wine.clear_records()
    assert run_packed(wine, exe, record_msiexec=True) == 0
    target = clean_extraction / "product.MSI"
    (record,) = wine.records()
    assert arguments(record) == (f'/qn /I "{wine.win(target)}"'
                                 f' KEST_SETUP_EXE_PATH="{wine.win(exe)}"')
    # The package stays after the run, byte for byte.
    assert target.read_bytes() == (folder / "product.msi").read_bytes()
    assert not list(clean_extraction.glob("*.MST"))


def test_packed_installer_installs_for_real(wine, clean_extraction):
    folder, exe, code = packed(wine, "real-packed", product="Kest Packed Real", version="3.1.0")
    try:
        assert run_packed(wine, exe, timeout=300, record_msiexec=False) == 0
        assert wine.product_value(code, "DisplayVersion") == "3.1.0"
        assert (wine.program_files_x86() / "Kest Packed Real" / "readme.txt").exists()
    finally:
        wine.msiexec("/x", code, "/qn")


@pytest.mark.parametrize("lang, index", [("fr_FR.UTF-8", 2), ("de_DE.UTF-8", 1), ("en_US.UTF-8", 0)])
def test_transform_of_the_chosen_language(wine, clean_extraction, lang, index):
    folder, exe, code = packed(wine, "languages", languages=2, installer={
        "KestInitLangDefault": "English,1033", "Language1": "Deutsch,1031",
        "Language2": "Francais,1036"})
    wine.clear_records()
    assert run_packed(wine, exe, record_msiexec=True, lang=lang) == 0
    (record,) = wine.records()
    package = clean_extraction / "product.MSI"
    transform = clean_extraction / "product.MST"
    if index == 0:
        assert arguments(record) == f'/qn /I "{wine.win(package)}" KEST_SETUP_EXE_PATH="{wine.win(exe)}"'
        assert not transform.exists()
    else:
        assert arguments(record) == (f'/qn TRANSFORMS="{wine.win(transform)}" /I "{wine.win(package)}"'
                                     f' KEST_SETUP_EXE_PATH="{wine.win(exe)}"')
        # Language 2 skips the first transform by its size.
        assert transform.read_bytes() == (folder / f"lang{index}.mst").read_bytes()


def test_carried_transform_and_the_language_transform_both_apply(wine, clean_extraction):
    folder = wine.scratch("carried")
    build_msi(folder / "base.msi", name="Kest Carried", seed="carried")
    carried = with_storage_class(folder / "base.msi", folder / "carried.mst")
    german = with_storage_class(folder / "base.msi", folder / "de.mst")
    with open(german, "ab") as f:
        f.write(b"de" * 500)
    exe = pack(folder, {"ProductName": "Kest Carried", "ProductCode": guid("carried"),
                        "ProductVersion": "1.0.0", "ProductFile": "carried.mst",
                        "TransformMSI": "C:\\Base\\base.msi", "CmdLine": "/qn",
                        "Language1": "Deutsch,1031", "LanguageFile1": "de.mst"})
    wine.clear_records()
    assert run_packed(wine, exe, record_msiexec=True, lang="de_DE.UTF-8") == 0
    (record,) = wine.records()
    first, second = clean_extraction / "carried.MST", clean_extraction / "carried-language.MST"
    assert arguments(record) == (f'/qn /I "C:\\Base\\base.msi" '
                                 f'TRANSFORMS="{wine.win(first)};{wine.win(second)}"'
                                 f' KEST_SETUP_EXE_PATH="{wine.win(exe)}"')
    assert first.read_bytes() == carried.read_bytes()
    assert second.read_bytes() == german.read_bytes()


@pytest.mark.parametrize("external", ["http://kest.invalid/app.msi", "\\\\server\\share\\app.msi"])
def test_language_transform_of_an_external_package(wine, clean_extraction, external):
    folder = wine.scratch("external")
    build_msi(folder / "base.msi", name="Kest External", seed="external")
    german = with_storage_class(folder / "base.msi", folder / "de.mst")
    exe = pack(folder, {"ProductName": "Kest External", "ProductCode": guid("external"),
                        "ProductVersion": "1.0.0", "CmdLine": "/qn",
                        "Language1": "Deutsch,1031", "LanguageFile1": "de.mst"},
               {"ExternalPackagePath": external})
    wine.clear_records()
    assert run_packed(wine, exe, record_msiexec=True, lang="de_DE.UTF-8") == 0
    (record,) = wine.records()
    # Written where a carried package would go, never beside the external one.
    transform = clean_extraction / "Package.MST"
    assert arguments(record) == (f'/qn TRANSFORMS="{wine.win(transform)}" /I "{external}"'
                                 f' KEST_SETUP_EXE_PATH="{wine.win(exe)}"')
    assert transform.read_bytes() == german.read_bytes()


@pytest.mark.parametrize("name", ["..\\defg.msi", "abc/efg.msi", "CON    .msi", "C:efghi.msi"])
def test_package_name_from_the_payload_must_be_plain(wine, clean_extraction, name):
    folder, exe, code = packed(wine, "plain-name", pack_keys={"PackageFileName": "abcdefg.msi"})
    data = exe.read_bytes()
    assert len(name) == len("abcdefg.msi") and data.count(b"abcdefg.msi") == 1
    exe.write_bytes(data.replace(b"abcdefg.msi", name.encode()))
    wine.clear_records()
    running = start_packed(wine, exe, record_msiexec=True)
    expect_box(wine, running, "Corrupt installation detected.", 1)
    assert wine.records() == []
    assert not clean_extraction.exists() or not any(clean_extraction.iterdir())
    assert not (folder / "defg.msi").exists()


def test_a_program_path_as_long_as_windows_allows_runs(wine):
    base = wine.scratch("long-path")
    # The path of setup.exe itself is 255 characters, its settings file's 255.
    room = 255 - len(wine.win(base)) - len("\\setup.exe")
    parts = [("d" * 60)[:min(60, room - 1 - i * 61)] for i in range(5) if room - i * 61 > 1]
    sub = "\\".join(parts)
    sub += "x" * (room - 1 - len(sub))
    setup = Setup(wine, "long-path", subdir=sub.replace("\\", "/")).settings(
        ProductCode="{11111111-2222-3333-4444-555555555555}", ProductVersion="1.0.0",
        ProductFile="p.msi", CmdLine="/qn")
    assert len(wine.win(setup.exe)) == 255
    wine.clear_records()
    assert setup.run(record_msiexec=True) == 0
    (record,) = wine.records()
    assert f'KEST_SETUP_EXE_PATH="{wine.win(setup.exe)}"' in record["cmdline"]


def password_attempt(wine, text):
    wine.ui("settext", "Enter Password", "1005", text)
    assert wine.ui("submit", "Enter Password", "1").returncode == 0


def test_password_in_any_case_after_wrong_attempts(wine, clean_extraction):
    folder, exe, code = packed(wine, "password", pack_keys={"Password": "Secret7"})
    wine.clear_records()
    running = start_packed(wine, exe, record_msiexec=True)
    # A wrong length and a wrong password bring the dialog back, silently.
    for attempt in ("secret", "secret8", "sECRET7"):
        assert wine.ui("wait", "Enter Password").returncode == 0
        password_attempt(wine, attempt)
    assert running.finish() == 0
    assert len(wine.records()) == 1
    # The descrambled package is the original.
    assert (clean_extraction / "product.MSI").read_bytes() == (folder / "product.msi").read_bytes()


def test_password_cancel_ends_with_one(wine, clean_extraction):
    folder, exe, code = packed(wine, "password-cancel", pack_keys={"Password": "abc"})
    wine.clear_records()
    running = start_packed(wine, exe, record_msiexec=True)
    wine.ui("wait", "Enter Password")
    wine.ui("click", "Enter Password", "2")
    assert running.finish() == 1
    assert wine.records() == []
    assert not (clean_extraction / "product.MSI").exists()


def test_password_protects_transforms_too(wine, clean_extraction):
    folder, exe, code = packed(wine, "password-lang", pack_keys={"Password": "pw"}, languages=2,
                               installer={"Language1": "Deutsch,1031", "Language2": "Francais,1036"})
    running = start_packed(wine, exe, record_msiexec=True, lang="fr_FR.UTF-8")
    wine.ui("wait", "Enter Password")
    password_attempt(wine, "PW")
    assert running.finish() == 0
    assert (clean_extraction / "product.MST").read_bytes() == (folder / "lang2.mst").read_bytes()


def flip_byte(exe, stream_index, at=100):
    stream = inspect(exe)["streams"][stream_index]
    data = bytearray(Path(exe).read_bytes())
    data[stream["offset"] + at] ^= 0x40
    Path(exe).write_bytes(bytes(data))


def expect_box(wine, running, text, code):
    box = wine.ui("dump", "Install")
    assert text in box.stdout, box.stdout + box.stderr
    wine.ui("click", "Install", "1")
    assert running.finish() == code


@pytest.mark.parametrize("stream, own_text", [(0, None), (0, "Your download is damaged."), (1, None)],
                         ids=["package", "package-own-text", "transform"])
def test_corrupt_stream_is_reported_and_removed(wine, clean_extraction, stream, own_text):
    installer = {"Language1": "Deutsch,1031", "Language2": "Francais,1036"}
    if own_text:
        installer["CRCError"] = own_text
    folder, exe, code = packed(wine, "corrupt", languages=2, installer=installer,
                               pack_keys={"SizeCheck": "0"})
    flip_byte(exe, stream)
    wine.clear_records()
    running = start_packed(wine, exe, record_msiexec=True, lang="de_DE.UTF-8")
    expect_box(wine, running, own_text or CRC_ERROR, 1)
    assert wine.records() == []
    # A failed transform takes the package extracted before it away too.
    assert not (clean_extraction / "product.MSI").exists()
    assert not (clean_extraction / "product.MST").exists()


def test_disk_full_is_reported_and_nothing_is_left(wine, clean_extraction):
    folder, exe, code = packed(wine, "diskfull")
    # Grow the package past what the small file system below holds.
    big = folder / "product.msi"
    with open(big, "ab") as f:
        f.write(bytes(range(256)) * 4096 * 2)
    exe = pack(folder, {"ProductCode": code, "ProductVersion": "1.0.0", "ProductFile": "product.msi",
                        "ProductName": "Kest Packed", "CmdLine": "/qn"})
    clean_extraction.mkdir(parents=True)
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=512k", "tmpfs", str(clean_extraction)],
                             capture_output=True, text=True)
    if mounted.returncode != 0:
        pytest.skip("cannot mount a small file system here: " + mounted.stderr.strip())
    try:
        wine.clear_records()
        running = start_packed(wine, exe, record_msiexec=True)
        expect_box(wine, running, SPACE_ERROR, 1)
        assert wine.records() == []
        assert list(clean_extraction.iterdir()) == []
    finally:
        subprocess.run(["umount", str(clean_extraction)])


def test_removal_of_another_version_in_embedded_mode(wine, clean_extraction):
    with installed(wine, "Kest Embedded Removal", "embedded-removal") as code:
        folder, exe, _ = packed(wine, "embedded-removal", product="Kest Embedded Removal",
                                version="2.0.0", code=code)
        # No: nothing changes and the run ends with 1.
        running = start_packed(wine, exe)
        box = wine.ui("dump", "Kest Embedded Removal")
        assert "Version 1.0.0 is already installed" in box.stdout
        wine.ui("click", "Kest Embedded Removal", "7")
        assert running.finish() == 1
        assert wine.product_value(code, "DisplayVersion") == "1.0.0"
        # Yes: 1.0.0 goes, then 2.0.0 is installed.
        running = start_packed(wine, exe, record_msiexec=False)
        wine.ui("dump", "Kest Embedded Removal")
        wine.ui("click", "Kest Embedded Removal", "6")
        assert running.finish(timeout=300) == 0
        assert wine.product_value(code, "DisplayVersion") == "2.0.0"


def test_streams_and_crc_against_real_files(wine):
    folder = wine.scratch("streams")
    r = wine.tool("stream_test.exe", wine.win(folder))
    assert r.returncode == 0, r.stdout + r.stderr
    assert "0 failed" in r.stdout


def test_other_module_calls_the_exported_crc(wine):
    folder = wine.scratch("crc-client")
    stub = copy(STUB, folder / "setup.exe")
    r = wine.tool("crc_client.exe", wine.win(stub))
    assert r.returncode == 0, r.stdout + r.stderr
    # It landed away from its preferred base, as on Windows with ASLR, and
    # every absolute address it holds was moved with it.
    loaded = dict(kv.split("=") for kv in r.stdout.splitlines()[0].split())
    assert loaded["loaded"] != loaded["preferred"], r.stdout
    assert int(loaded["sites"]) > 0 and loaded["outside"] == "0", r.stdout
    assert "crc=CBF43926" in r.stdout


@pytest.fixture(scope="module")
def large_installer(wine):
    """A packed installer whose package takes a while to extract."""
    folder = wine.scratch("large")
    code = guid("large")
    build_msi(folder / "product.msi", name="Kest Large", product_code=code, seed="large")
    with open(folder / "product.msi", "ab") as f:
        block = bytes(range(256)) * 4096
        for _ in range(192):
            f.write(block)
    return pack(folder, {"ProductName": "Kest Large", "ProductCode": code,
                         "ProductVersion": "1.0.0", "ProductFile": "product.msi"})


def watch(wine, *args):
    """Starts uidriver and returns once it is looking for the window."""
    p = subprocess.Popen([WINE, str(wine.tools / "uidriver.exe"), *args], env=wine.environment(),
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    assert p.stderr.readline().strip() == "watching"
    return p


def test_cancel_in_the_progress_window(wine, clean_extraction, large_installer):
    # The copy takes a fraction of a second: the press is posted the moment
    # the window shows, while the stub's thread is held.
    watcher = watch(wine, "catch", "Kest Large", "2", "60000")
    wine.clear_records()
    running = start_packed(wine, large_installer, "/qb", record_msiexec=True)
    assert watcher.wait(timeout=120) == 0
    assert running.finish(timeout=120) == 1
    assert wine.records() == []
    assert not (clean_extraction / "product.MSI").exists()


def test_quiet_run_shows_no_progress_window(wine, clean_extraction, large_installer):
    watcher = watch(wine, "wait", "Kest Large", "5000")
    wine.clear_records()
    assert run_packed(wine, large_installer, "/qn", record_msiexec=True, timeout=120) == 0
    assert watcher.wait(timeout=60) == 1  # the window never appeared
    assert len(wine.records()) == 1


def test_one_file_installs_with_password_language_and_removal(wine, clean_extraction):
    from transform import make_transform
    with installed(wine, "Kest Complete", "complete") as code:
        folder = wine.scratch("complete")
        build_msi(folder / "product.msi", name="Kest Complete", version="2.0.0", product_code=code,
                  seed="complete")
        make_transform(folder / "product.msi", folder / "de.mst",
                       {"ProductName": "Kest Komplett", "ProductLanguage": "1031"})
        exe = pack(folder, {"ProductName": "Kest Complete", "ProductCode": code,
                            "ProductVersion": "2.0.0", "ProductFile": "product.msi",
                            "CmdLine": "/qn", "Language1": "Deutsch,1031",
                            "LanguageFile1": "de.mst"}, {"Password": "Geheim"})
        running = start_packed(wine, exe, lang="de_DE.UTF-8", record_msiexec=False)
        password_attempt(wine, "geheim")
        wine.ui("dump", "Kest Complete")
        wine.ui("click", "Kest Complete", "6")  # Yes: remove 1.0.0
        assert running.finish(timeout=300) == 0
        assert wine.product_value(code, "DisplayVersion") == "2.0.0"
        assert wine.product_value(code, "DisplayName") == "Kest Komplett"


def test_packed_installer_in_folders_outside_the_code_page_installs_for_real(wine, unicode_temp):
    """A packed installer in a folder named in Chinese, whose user's
    temporary folder is named in Cyrillic and Common Files cannot be
    written: the package goes to the temporary folder, msiexec gets its
    path, and the real Windows Installer installs it."""
    folder, exe, code = packed(wine, "unicode-packed", product="Kest Packed Unicode")
    moved = folder / "安装程序" / "setup.exe"
    moved.parent.mkdir()
    exe.rename(moved)
    try:
        wine.clear_records()
        assert run_packed(wine, moved, record_msiexec=True) == 0
        (record,) = wine.records()
        extracted = [p for p in unicode_temp.iterdir() if p.name.upper().startswith("KXC")]
        assert len(extracted) == 1 and extracted[0].read_bytes() == (folder / "product.msi").read_bytes()
        assert arguments(record) == (f'/qn /I "{wine.win(extracted[0])}"'
                                     f' KEST_SETUP_EXE_PATH="{wine.win(moved)}"')
        extracted[0].unlink()
        assert run_packed(wine, moved, timeout=300, record_msiexec=False) == 0
        assert wine.product_value(code, "DisplayVersion") == "1.0.0"
    finally:
        wine.msiexec("/x", code, "/qn")
