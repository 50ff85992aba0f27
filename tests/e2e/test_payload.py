"""The embedded payload under Wine: kestpack's output read by the stub's own
readers, the locator's cases, the message texts, and code signing."""
import re
import shutil
import subprocess

import pytest

from packer import (copy, inspect, kestpack, make_package, move_headers, pack, pe_checksum,
                    rename_section, set_kest_raw_size, with_storage_class)
from pe import PeImage
from stub import Setup, write_ini
from winehost import ARCH, ROOT, STUB

RUN_KEY = r"HKCU\SOFTWARE\Microsoft\Windows\CurrentVersion\Run"
CODE = "{11111111-2222-3333-4444-555555555555}"
CORRUPT = "Corrupt installation detected."


def built_in_texts():
    """The string table of the resource script, by ID name."""
    rc = (ROOT / "ui" / "kest.rc").read_text()
    return {m.group(1): m.group(2).replace("\\r\\n", "\r\n")
            for m in re.finditer(r'^\s*IDS_(\w+)\s+"(.*)"\s*$', rc, re.M)}


BUILT_IN = built_in_texts()


@pytest.fixture(scope="module")
def package():
    # Named as FULL names it: kestpack refuses a ProductName that differs.
    return make_package("package-c4.msi", product=FULL["ProductName"])


def dump(wine, *args):
    r = wine.tool("payload_test.exe", *args)
    assert r.returncode == 0, r.stdout + r.stderr
    values = {}
    for line in r.stdout.splitlines():
        key, _, value = line.partition("=")
        values[key] = value
    return values


def text(values, key):
    return bytes.fromhex(values[key]).decode("latin-1")


def stage(wine, name, package, languages=2):
    """A folder holding the package, `languages` stand-in transforms and two
    runtime installers."""
    folder = wine.scratch(name)
    copy(package, folder / "product.msi")
    for k in range(1, languages + 1):
        with_storage_class(package, folder / f"lang{k}.mst")
    (folder / "instmsia.exe").write_bytes(bytes(range(256)) * 40 + b"9x")
    (folder / "instmsiw.exe").write_bytes(b"NT" * 3001)
    return folder


FULL = {
    "ProductName": "Kest E2E \xc4",
    "ProductCode": CODE,
    "ProductVersion": "1.0.0",
    "ProductFile": "product.msi",
    "RuntimeUpdateVersion": "3.1.4000.2435",
    "CharFont": "Tahoma",
    "CharSet": "238",
    "CharSize": "9",
    "DelayReboot": "1",
    "CmdLine": "/qb TARGET=1",
    "AdminError": "Admin text",
    "SpaceError": "Space text",
    "CRCError": "C" * 254,
    "Internet": "Internet text",
    "Runtime9X": "instmsia.exe",
    # The pin rides in the URL, whose stored length grows by it.
    "RuntimeNT": "http://example.test/InstMsiW.exe#sha256=" + "c0ffee42" * 8,
    "RuntimeSizeNT": "1822520",
    "KestInitLangPrompt": "Choose a language:",
    "KestInitLangDefault": "English,1033",
}


@pytest.mark.parametrize("languages, password", [(0, None), (2, "s3cret")],
                         ids=["no-languages", "languages-and-password"])
def test_embedded_stub_reads_every_header_field(wine, package, languages, password):
    folder = stage(wine, "header", package, languages)
    installer = dict(FULL)
    for k in range(1, languages + 1):
        installer[f"Language{k}"] = f"Language {k},{1030 + k}"
        installer[f"LanguageFile{k}"] = f"lang{k}.mst"
    path = pack(folder, installer, {"Password": password} if password else None)
    info = inspect(path, password)
    assert info["problems"] == []

    values = dump(wine, "header", wine.win(path))
    assert values["loadlibrary"] == "1"
    assert values["located"] == "1" and values["embedded"] == "1"
    assert int(values["payload"]) == info["payloadOffset"]
    for key in ("StreamSizeNT", "StreamSize9X", "StreamSizeMSI", "TotalFileSize",
                "RuntimeVersionMS", "RuntimeVersionLS", "DelayReboot"):
        json_key = key[0].lower() + key[1:]
        assert int(values[key]) == info[json_key], key
    assert int(values["TotalFileSize"]) == path.stat().st_size
    assert int(values["RuntimeVersionMS"]) == 0x00030001
    assert int(values["RuntimeVersionLS"]) == 0x0FA00983
    assert int(values["StreamSize9X"]) == (folder / "instmsia.exe").stat().st_size + 4
    assert int(values["StreamSizeNT"]) == 0
    assert int(values["StreamSizeMSI"]) == package.stat().st_size + 4
    assert values["DelayReboot"] == "1"
    assert text(values, "PackageFileName") == "product.msi"
    assert text(values, "ProductCode") == CODE
    assert text(values, "ProductVersion") == "1.0.0"
    assert text(values, "TransformMSI") == ""
    assert text(values, "CharFont") == "Tahoma"
    assert text(values, "ProductName") == "Kest E2E \xc4"
    assert values["CharSet"] == "238" and values["CharSize"] == "9"
    assert int(values["PasswordLength"]) == (len(password) + 1 if password else 0)
    assert values["RemovePrevious"] == "1" and values["DotNetMode"] == "0"
    assert values["RuntimeSize"] == f"0,{len(FULL['RuntimeNT']) + 1},0,0"
    assert values["DownloadSize"] == "0,1822520,0,0"
    assert list(bytes.fromhex(values["Lengths"])) == info["lengths"]
    assert int(values["TextRegionOffset"]) == info["textRegionOffset"]
    assert int(values["ExternalPackagePathOffset"]) == info["externalPackagePathOffset"]
    assert [int(v) for v in values["RuntimeUrlOffset"].split(",")] == \
        [info["runtimes"][k]["urlOffset"] for k in
         ("Runtime9X", "RuntimeNT", "RuntimeDotNet", "RuntimeDotNetUpdate")]
    assert info["runtimes"]["RuntimeNT"]["sha256"] == "c0ffee42" * 8
    assert info["runtimes"]["RuntimeDotNet"]["sha256"] is None

    # The package's own texts, the built-in ones where it has none, and the
    # forward position untouched by every lookup.
    assert text(values, "message.AdminError") == "Admin text"
    assert text(values, "message.SpaceError") == "Space text"
    assert text(values, "message.CRCError") == "C" * 254
    assert text(values, "message.Internet") == "Internet text"
    assert text(values, "message.ExistError") == BUILT_IN["EXIST_ERROR"]
    assert text(values, "message.Reboot") == BUILT_IN["REBOOT"]
    # The payload has no place for a text of its own.
    assert text(values, "message.HashError") == BUILT_IN["HASH_ERROR"]
    for key in ("AdminError", "ExistError", "SpaceError", "CRCError", "Reboot", "Internet",
                "HashError"):
        assert values[f"kept.{key}"] == "1", key
    assert int(values["length"]) == path.stat().st_size and values["lengthKept"] == "1"

    # Past the language items and both runtime streams: the package stream.
    assert int(values["streams"]) == info["streamsOffset"]
    packages = [s for s in info["streams"] if s["name"] == "package"]
    assert int(values["package"]) == packages[0]["offset"]


def test_packed_stub_runs_in_embedded_mode(wine, package):
    """No settings file beside it: only the payload can name the product
    whose resume value the run removes."""
    folder = stage(wine, "embedded-run", package)
    path = pack(folder, dict(FULL))
    setup = Setup(wine, "embedded-run-exe", stub=path)
    wine.reg_set(RUN_KEY, "KestStubReboot", "x")
    assert setup.run(timeout=60, record_msiexec=True) == 0
    assert wine.reg_query(RUN_KEY, "KestStubReboot") is None


def expect_corrupt_box(wine, setup):
    running = setup.start(record_msiexec=True)
    box = wine.ui("dump", "Install")
    assert CORRUPT in box.stdout, box.stdout + box.stderr
    wine.ui("click", "Install", "1")
    assert running.finish(timeout=60) == 1


def test_512_byte_section_runs_in_settings_file_mode(wine, package):
    folder = stage(wine, "settings-mode", package)
    path = pack(folder, dict(FULL))
    set_kest_raw_size(path, 512)
    wine.reg_set(RUN_KEY, "KestStubReboot", "x")
    # Without a settings file the run ends silently, as a failure, and
    # keeps the value ...
    setup = Setup(wine, "settings-mode-exe", stub=path)
    assert setup.run(timeout=30, record_msiexec=True) == 1
    assert wine.reg_query(RUN_KEY, "KestStubReboot") == "x"
    # ... and with one, it reads the product from there.
    setup.settings(ProductCode=CODE, ProductVersion="1.0.0")
    assert setup.run(timeout=30, record_msiexec=True) == 0
    assert wine.reg_query(RUN_KEY, "KestStubReboot") is None
    # 1,023 bytes is still no payload; 1,024 is.
    set_kest_raw_size(setup.exe, 1023)
    values = dump(wine, "header", wine.win(setup.exe))
    assert values["located"] == "1" and values["embedded"] == "0"
    set_kest_raw_size(setup.exe, 1024)
    values = dump(wine, "header", wine.win(setup.exe))
    assert values["embedded"] == "1" and text(values, "ProductCode") == CODE


def test_lower_case_section_name_is_not_found(wine):
    setup = Setup(wine, "lower-case").settings(ProductCode=CODE, ProductVersion="1")
    rename_section(setup.exe, ".KEST", ".kest")
    expect_corrupt_box(wine, setup)


def test_section_table_beyond_1536_bytes_fails(wine):
    setup = Setup(wine, "far-table").settings(ProductCode=CODE, ProductVersion="1")
    move_headers(setup.exe)
    assert PeImage(setup.exe.read_bytes()).section(".KEST").header_offset > 1536
    expect_corrupt_box(wine, setup)


def test_wrong_total_file_size_ends_with_the_message(wine, package):
    folder = stage(wine, "total-size", package)
    path = pack(folder, dict(FULL))
    setup = Setup(wine, "total-size-exe", stub=path)
    with open(setup.exe, "ab") as f:
        f.write(b"\0")
    wine.reg_set(RUN_KEY, "KestStubReboot", "x")
    expect_corrupt_box(wine, setup)
    # The check comes after the resume value's removal.
    assert wine.reg_query(RUN_KEY, "KestStubReboot") is None


def test_message_lookup_in_settings_file_mode(wine):
    folder = wine.scratch("messages-ini")
    ini = folder / "setup.ini"
    write_ini(ini, {"SpaceError": "Own space text", "Reboot": "", "CRCError": "x" * 300,
                    "HashError": "Own hash text"})
    values = dump(wine, "settings", wine.win(ini), wine.win(STUB))
    assert values["loadlibrary"] == "1"
    assert text(values, "message.SpaceError") == "Own space text"
    assert text(values, "message.Reboot") == BUILT_IN["REBOOT"]
    assert text(values, "message.AdminError") == BUILT_IN["ADMIN_ERROR"]
    assert text(values, "message.Internet") == BUILT_IN["INTERNET"]
    assert text(values, "message.CRCError") == "x" * 255  # cut to the buffer
    assert text(values, "message.HashError") == "Own hash text"


def test_packed_file_is_a_valid_image(wine, package):
    folder = stage(wine, "image", package)
    path = pack(folder, dict(FULL))
    data = path.read_bytes()
    image, stub = PeImage(data), PeImage(STUB.read_bytes())
    kest = image.section(".KEST")
    assert kest.raw_pointer % 0x200 == 0 and kest.raw_size % 0x200 == 0
    assert kest.raw_size >= 1024 and kest.raw_pointer + kest.raw_size == len(data)
    assert kest.virtual_size == stub.section(".KEST").virtual_size
    for mine, theirs in zip(image.sections, stub.sections):
        if mine.name != ".KEST":
            assert (mine.raw_pointer, mine.raw_size) == (theirs.raw_pointer, theirs.raw_size)
            assert data[mine.raw_pointer:mine.raw_pointer + mine.raw_size] == \
                STUB.read_bytes()[theirs.raw_pointer:theirs.raw_pointer + theirs.raw_size]
    assert image.checksum == pe_checksum(data, image.nt + 24 + 64)
    assert image.is_64bit == (ARCH == "x64") and inspect(path)["architecture"] == ARCH
    # Deterministic: the same inputs give the same bytes.
    again = pack(folder, dict(FULL), out="again.exe")
    assert again.read_bytes() == data
    # And what went in comes out.
    out = folder / "extracted"
    kestpack("extract", path, "-d", out)
    assert (out / "product.msi").read_bytes() == package.read_bytes()
    assert (out / "runtime-9x.exe").read_bytes() == (folder / "instmsia.exe").read_bytes()


@pytest.fixture(scope="module")
def certificate(tmp_path_factory):
    folder = tmp_path_factory.mktemp("cert")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                    "-keyout", folder / "key.pem", "-out", folder / "cert.pem", "-days", "2",
                    "-subj", "/CN=Kest Test"], check=True, capture_output=True)
    return folder / "cert.pem", folder / "key.pem"


def sign(source, target, certificate):
    cert, key = certificate
    target.unlink(missing_ok=True)  # osslsigncode does not overwrite
    subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-in", source,
                    "-out", target], check=True, capture_output=True)
    verify = subprocess.run(["osslsigncode", "verify", "-in", target, "-CAfile", cert],
                            capture_output=True, text=True)
    assert verify.returncode == 0, verify.stdout + verify.stderr
    return target


def test_signed_installer_runs_with_size_check_off(wine, package, certificate):
    folder = stage(wine, "signed", package)
    unsigned = pack(folder, dict(FULL), {"SizeCheck": "0"})
    setup = Setup(wine, "signed-exe", stub=unsigned)
    sign(unsigned, setup.exe, certificate)
    assert setup.exe.stat().st_size > unsigned.stat().st_size
    wine.reg_set(RUN_KEY, "KestStubReboot", "x")
    assert setup.run(timeout=60, record_msiexec=True) == 0
    assert wine.reg_query(RUN_KEY, "KestStubReboot") is None
    info = inspect(setup.exe)
    assert info["problems"] == [] and info["totalFileSize"] == 0
    values = dump(wine, "header", wine.win(setup.exe))
    assert values["loadlibrary"] == "1" and text(values, "ProductCode") == CODE

    # With the length check on, signing appends to the file and the stub
    # refuses to run: that is what SizeCheck=0 is for.
    checked = pack(folder, dict(FULL), out="checked.exe")
    setup = Setup(wine, "signed-checked", stub=checked)
    sign(checked, setup.exe, certificate)
    expect_corrupt_box(wine, setup)


def test_kestpack_refuses_and_writes_nothing(wine, package):
    folder = stage(wine, "refuse", package)
    installer = dict(FULL, LanguageFile1="product.msi", Language1="Deutsch,1031")
    lines = ["[KestInstaller]"] + [f"{k}={v}" for k, v in installer.items()]
    (folder / "pack.ini").write_bytes(("\r\n".join(lines) + "\r\n").encode("latin-1"))
    r = kestpack("build", folder / "pack.ini", check=False)
    assert r.returncode == 2
    assert "pack.ini" in r.stderr and "LanguageFile1" in r.stderr and "not a transform" in r.stderr
    assert not (folder / "setup.exe").exists()
    assert not list(folder.glob("*.kestpack-tmp"))

    # A corrupt installer: inspect says so and exits 1.
    path = pack(folder, dict(FULL))
    data = bytearray(path.read_bytes())
    stream = [s for s in inspect(path)["streams"] if s["name"] == "package"][0]
    data[stream["offset"] + 10] ^= 0xFF
    path.write_bytes(bytes(data))
    r = kestpack("inspect", path, check=False)
    assert r.returncode == 1 and "package: CRC-32" in r.stdout
