#!/usr/bin/python3
"""Writes the release archive kest-<version>.zip: both stubs, kestpack for
Linux x86-64 and for Windows, the README and the licence, under one folder
of the same name. Fixed order, times and modes: the same files give the
same archive, byte for byte. Prints its SHA-256 as sha256sum does.

usage: dist.py [OUT_DIR]   (default: dist/ at the top of the tree)"""
import hashlib
import sys
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
BIN = ROOT / "build" / "bin"
# What the archive holds, in this order, with the modes it gives them.
CONTENTS = [
    (BIN / "kestsetup.exe", 0o644),
    (BIN / "kestsetup64.exe", 0o644),
    (BIN / "kestpack", 0o755),
    (BIN / "kestpack.exe", 0o644),
    (ROOT / "README.md", 0o644),
    (ROOT / "LICENSE", 0o644),
]
# The earliest time an entry can hold, instead of the build machine's clock.
STAMP = (1980, 1, 1, 0, 0, 0)


def write_archive(out_dir):
    version = (ROOT / "VERSION").read_text().strip()
    top = f"kest-{version}"
    missing = [str(path) for path, _ in CONTENTS if not path.is_file()]
    if missing:
        raise SystemExit("dist: missing (run make first): " + ", ".join(missing))
    out_dir.mkdir(parents=True, exist_ok=True)
    target = out_dir / f"{top}.zip"
    partial = out_dir / f"{top}.zip.partial"
    with zipfile.ZipFile(partial, "w") as archive:
        for path, mode in CONTENTS:
            entry = zipfile.ZipInfo(f"{top}/{path.name}", STAMP)
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.create_system = 3  # Unix: unzip then applies the mode
            entry.external_attr = (0o100000 | mode) << 16
            archive.writestr(entry, path.read_bytes(), compresslevel=9)
    partial.replace(target)
    return target


def main(argv):
    target = write_archive(Path(argv[0]) if argv else ROOT / "dist")
    print(f"{hashlib.sha256(target.read_bytes()).hexdigest()}  {target}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
