"""What users download: kestpack.exe under wine64 does what the Linux
kestpack does, byte for byte and word for word; the INI that kestpack init
writes packs into an installer that installs; the release archive comes out
the same twice."""
import json
import shutil
import subprocess
import zipfile

import pytest

from packages import build_msi, guid
from packer import KESTPACK
from transform import make_transform
from winehost import ARCH, BUILD, ROOT, WINE, skip_unless

KESTPACK_EXE = BUILD / "bin" / "kestpack.exe"
VERSION = (ROOT / "VERSION").read_text().strip()
windows_only = skip_unless("x64", "kestpack.exe is a 64-bit program: it runs in the 64-bit prefix")


def both(wine, folder, *args):
    """Runs kestpack and kestpack.exe in folder with the same arguments;
    returns each one's (exit code, stdout, stderr), the folder's path
    written as <dir> in either's texts."""
    linux = subprocess.run([str(KESTPACK), *args], cwd=folder, capture_output=True)
    windows = subprocess.run([WINE, str(KESTPACK_EXE), *args], cwd=folder,
                             env=wine.environment(), capture_output=True)
    mine, theirs = str(folder).encode(), wine.win(folder).encode()

    def plain(r, prefix, json_text):
        out = []
        for text in (r.stdout, r.stderr):
            # JSON doubles each backslash of a Windows path.
            text = text.replace(prefix.replace(b"\\", b"\\\\") if json_text else prefix, b"<dir>")
            out.append(text.replace(b"\\\\" if json_text else b"\\", b"/"))
        return (r.returncode, *out)

    as_json = "--json" in args
    return plain(linux, mine, as_json), plain(windows, theirs, as_json)


def demo_folder(wine, name):
    """The demo's packed installer: a package, its German transform and a
    password, with the product's identity left to the package."""
    folder = wine.scratch(name)
    build_msi(folder / "KestDemo.msi", name="Kest Demo", version="1.1.0",
              product_code=guid("release-demo"), seed="release-demo")
    make_transform(folder / "KestDemo.msi", folder / "de.mst",
                   {"ProductName": "Kest Demo (Deutsch)", "ProductLanguage": "1031"})
    (folder / "pack.ini").write_bytes(
        b"[KestInstaller]\r\nProductFile=KestDemo.msi\r\nCmdLine=/qn\r\n"
        b"KestInitLangDefault=English,1033\r\nLanguage1=Deutsch,1031\r\nLanguageFile1=de.mst\r\n"
        b"[KestPack]\r\nPassword=kest\r\n")
    return folder


@windows_only
def test_kestpack_exe_builds_inspects_and_extracts_as_kestpack_does(wine):
    # A folder named in Cyrillic, which no ANSI code page of the West holds.
    folder = demo_folder(wine, "release") / "Дмитрий"
    folder.mkdir()
    for f in ("KestDemo.msi", "de.mst", "pack.ini"):
        shutil.move(folder.parent / f, folder / f)
    runtime = folder / "instmsiw.exe"
    runtime.write_bytes(b"MZ" + bytes(range(256)) * 30)
    (folder / "full.ini").write_bytes(
        (folder / "pack.ini").read_bytes().replace(b"[KestPack]", (
            b"ProductName=Kest Demo\r\nRuntimeUpdateVersion=3.1.4000.2435\r\nCharFont=Tahoma\r\n"
            b"CharSet=238\r\nRuntimeNT=instmsiw.exe\r\nRuntime9X=http://example.test/a.exe\r\n"
            b"RuntimeSize9X=1707856\r\nCRCError=Damaged.\r\n[KestPack]\r\nSizeCheck=0\r\n")))
    (folder / "external.ini").write_bytes(
        b"[KestInstaller]\r\nProductCode={11111111-2222-3333-4444-555555555555}\r\n"
        b"ProductVersion=1\r\n[KestPack]\r\nExternalPackagePath=\\\\server\\share\\demo.msi\r\n")
    for ini, arch in (("pack.ini", "x64"), ("full.ini", "x86"), ("external.ini", "x64")):
        linux, windows = both(wine, folder, "build", ini, "--arch", arch, "-o", "setup.exe")
        assert linux[0] == 0, linux
        made_on_linux = (folder / "setup.exe").read_bytes()
        assert windows == linux
        assert (folder / "setup.exe").read_bytes() == made_on_linux, ini

    for args in (["inspect", "setup.exe", "--json"],
                 ["inspect", "setup.exe"]):
        linux, windows = both(wine, folder, *args)
        assert windows == linux
    both(wine, folder, "build", "pack.ini", "--arch", "x64", "-o", "setup.exe")
    linux, windows = both(wine, folder, "inspect", "setup.exe", "--json", "--password", "kest")
    assert windows == linux and linux[0] == 0
    report = json.loads(linux[1])
    assert {k: v["source"] for k, v in report["identity"].items() if k != "note"} == dict.fromkeys(
        ("productCode", "productVersion", "productName", "upgradeCode", "productLanguage"),
        "package")

    # A link planted where extract writes is replaced, never written through.
    victim = folder / "victim.txt"
    victim.write_bytes(b"keep me")
    (folder / "windows").mkdir()
    (folder / "windows" / "KestDemo.msi").symlink_to(victim)
    linux = subprocess.run([str(KESTPACK), "extract", "setup.exe", "-d", "linux", "--password",
                            "kest"], cwd=folder, capture_output=True)
    windows = subprocess.run([WINE, str(KESTPACK_EXE), "extract", "setup.exe", "-d", "windows",
                              "--password", "kest"], cwd=folder, env=wine.environment(),
                             capture_output=True)
    assert (windows.returncode, linux.returncode) == (0, 0)
    assert windows.stdout.replace(b"windows\\", b"/") == linux.stdout.replace(b"linux/", b"/")
    assert sorted(p.name for p in (folder / "windows").iterdir()) == ["KestDemo.msi",
                                                                     "language-1.mst"]
    for f in ("KestDemo.msi", "language-1.mst"):
        assert (folder / "windows" / f).read_bytes() == (folder / "linux" / f).read_bytes()
    assert victim.read_bytes() == b"keep me"
    assert not (folder / "windows" / "KestDemo.msi").is_symlink()
    assert (folder / "windows" / "KestDemo.msi").read_bytes() == \
        (folder / "KestDemo.msi").read_bytes()

    # Refused: the same words and code, and nothing written.
    (folder / "stale.ini").write_bytes((folder / "pack.ini").read_bytes().replace(
        b"CmdLine", b"ProductVersion=1.0.0\r\nCmdLine"))
    linux, windows = both(wine, folder, "build", "stale.ini", "-o", "stale.exe")
    assert windows == linux
    assert linux[0] == 2 and b"'1.0.0' differs from '1.1.0'" in linux[2]
    assert not list(folder.glob("stale.exe*"))
    assert both(wine, folder, "--version")[1] == (0, f"kestpack {VERSION}\n".encode(), b"")


def test_init_writes_an_ini_that_installs_for_real(wine):
    folder = wine.scratch("init")
    code = build_msi(folder / "product.msi", name="Kest Init", version="2.0.1", seed="init")
    r = subprocess.run([str(KESTPACK), "init", "product.msi"], cwd=folder, capture_output=True,
                       text=True)
    assert r.returncode == 0, r.stderr
    ini = (folder / "pack.ini").read_bytes()
    if ARCH == "x64":
        # The Windows build writes the same file.
        windows = subprocess.run([WINE, str(KESTPACK_EXE), "init", "product.msi", "-o",
                                  "windows.ini"], cwd=folder, env=wine.environment(),
                                 capture_output=True)
        assert windows.returncode == 0, windows.stderr
        assert (folder / "windows.ini").read_bytes() == ini
    assert f"\r\nProductCode={code}\r\nProductVersion=2.0.1\r\n".encode() in ini
    r = subprocess.run([str(KESTPACK), "build", "pack.ini", "--arch", ARCH], cwd=folder,
                       capture_output=True, text=True)
    assert r.returncode == 0 and r.stderr == "", r.stderr
    exe = folder / "setup.exe"
    try:
        assert wine.run(exe, f'"{wine.win(exe)}" /qn', timeout=300, record_msiexec=False) == 0
        assert wine.product_value(code, "DisplayVersion") == "2.0.1"
        assert wine.product_value(code, "DisplayName") == "Kest Init"
    finally:
        wine.msiexec("/x", code, "/qn")


def test_release_archive_is_the_same_twice(tmp_path):
    archives = []
    for k in (1, 2):
        r = subprocess.run(["/usr/bin/python3", str(ROOT / "scripts" / "dist.py"),
                            str(tmp_path / str(k))], capture_output=True, text=True)
        assert r.returncode == 0, r.stderr
        archive = tmp_path / str(k) / f"kest-{VERSION}.zip"
        digest = r.stdout.split()[0]
        archives.append((archive.read_bytes(), digest))
    assert archives[0] == archives[1]
    with zipfile.ZipFile(tmp_path / "1" / f"kest-{VERSION}.zip") as z:
        assert [i.filename for i in z.infolist()] == [
            f"kest-{VERSION}/{n}" for n in ("kestsetup.exe", "kestsetup64.exe", "kestpack",
                                            "kestpack.exe", "README.md", "LICENSE")]
        assert {i.date_time for i in z.infolist()} == {(1980, 1, 1, 0, 0, 0)}
        assert z.read(f"kest-{VERSION}/kestpack") == KESTPACK.read_bytes()
