"""kestpack from the scenario tests: real packages made by wixl, pack INIs,
and the PE edits that the locator cases need."""
import json
import shutil
import struct
import subprocess
from pathlib import Path

from packages import build_msi
from pe import PeImage
from stub import write_ini
from transform import read_properties, read_streams, read_summary
from winehost import ARCH, BUILD, ROOT

KESTPACK = BUILD / "bin" / "kestpack"
CACHE = BUILD / "e2e-packages"
TRANSFORM_CLASS = 0x82

def make_package(name="package.msi", code="{11111111-2222-3333-4444-555555555555}",
                 version="1.0.0", product="Kest E2E"):
    """A real .msi from wixl, cached per build tree."""
    CACHE.mkdir(parents=True, exist_ok=True)
    out = CACHE / f"{code.strip('{}')}-{version}-{name}"
    if not out.exists():
        build_msi(out, name=product, version=version, product_code=code,
                  file_text=f"{product} {version}\n")
    return out


def with_storage_class(package, target, first_byte=TRANSFORM_CLASS):
    """A copy of a compound file whose root storage carries another
    installer class: a stand-in transform, as far as its class goes. Its
    summary information names the package's product code where the
    package's own code stood, as a transform names the product it is made
    for."""
    data = bytearray(Path(package).read_bytes())
    streams = read_streams(package)
    own, product = read_summary(streams)[9], read_properties(streams)["ProductCode"]
    assert len(own) == len(product) and data.count(own.encode()) == 1, own
    data = bytearray(data.replace(own.encode(), product.encode()))
    shift = struct.unpack_from("<H", data, 0x1E)[0]
    directory = (struct.unpack_from("<I", data, 0x30)[0] + 1) << shift
    data[directory + 0x50] = first_byte
    Path(target).write_bytes(bytes(data))
    return Path(target)


def kestpack(*args, check=True):
    r = subprocess.run([str(KESTPACK), *map(str, args)], capture_output=True, text=True,
                       errors="replace")
    if check and r.returncode != 0:
        raise AssertionError(f"kestpack {' '.join(map(str, args))}: {r.returncode}\n"
                             f"{r.stdout}{r.stderr}")
    return r


def pack(folder, installer, pack_keys=None, out="setup.exe", stub=None):
    """Writes pack.ini in folder and builds out from it."""
    folder = Path(folder)
    lines = ["[KestInstaller]"] + [f"{k}={v}" for k, v in installer.items()]
    if pack_keys:
        lines += ["[KestPack]"] + [f"{k}={v}" for k, v in pack_keys.items()]
    (folder / "pack.ini").write_bytes(("\r\n".join(lines) + "\r\n").encode("latin-1"))
    args = ["build", folder / "pack.ini", "-o", folder / out]
    # Without a stub of its own, the test packs the stub that this host runs.
    args += ["--stub", stub] if stub else ["--arch", ARCH]
    kestpack(*args)
    return folder / out


def inspect(path, password=None):
    args = ["inspect", path, "--json"] + (["--password", password] if password else [])
    r = kestpack(*args, check=False)
    assert r.returncode in (0, 3), r.stdout + r.stderr
    return json.loads(r.stdout)


def pe_checksum(data, checksum_offset):
    """The image checksum by the classic word-by-word routine."""
    total = 0
    padded = data + (b"\0" if len(data) % 2 else b"")
    for i in range(0, len(padded), 2):
        if i in (checksum_offset, checksum_offset + 2):
            continue
        total += padded[i] | padded[i + 1] << 8
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def set_kest_raw_size(path, size):
    data = bytearray(Path(path).read_bytes())
    kest = PeImage(bytes(data)).section(".KEST")
    struct.pack_into("<I", data, kest.header_offset + 16, size)
    Path(path).write_bytes(bytes(data))


def rename_section(path, old, new):
    data = bytearray(Path(path).read_bytes())
    section = PeImage(bytes(data)).section(old)
    data[section.header_offset:section.header_offset + 8] = new.encode().ljust(8, b"\0")
    Path(path).write_bytes(bytes(data))


def move_headers(path, by=0x800):
    """Moves the NT headers and the section table `by` bytes further into
    the file, every section's raw data with them: still a valid image, but
    its section table now lies beyond the first 1,536 bytes."""
    data = bytes(Path(path).read_bytes())
    image = PeImage(data)
    nt = image.nt
    out = bytearray(data[:nt] + bytes(by) + data[nt:])
    struct.pack_into("<I", out, 0x3C, nt + by)
    opt = nt + by + 24
    size_of_headers = struct.unpack_from("<I", out, opt + 60)[0]
    struct.pack_into("<I", out, opt + 60, size_of_headers + by)
    for s in image.sections:
        struct.pack_into("<I", out, s.header_offset + by + 20, s.raw_pointer + by)
    Path(path).write_bytes(bytes(out))


def copy(src, dst):
    shutil.copy2(src, dst)
    return Path(dst)
