#!/usr/bin/python3
"""Fails when an include in the stub's sources points up a layer.

common/ is the bottom; payload/, ui/, transfer/ and runtime/ sit on it and
include nothing of each other; driver/ on top may include them all. A file
may always include its own folder's headers."""
import re
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
LAYER = {"common": 0, "payload": 1, "ui": 1, "transfer": 1, "runtime": 1, "driver": 2}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/[^"]+"', re.M)


def violations():
    for folder, rank in LAYER.items():
        for path in sorted((ROOT / folder).glob("*")):
            if path.suffix not in (".h", ".cpp", ".rc"):
                continue
            for match in INCLUDE.finditer(path.read_text(errors="replace")):
                target = match.group(1)
                if target == folder or target not in LAYER:
                    continue
                if LAYER[target] >= rank:
                    line = path.read_text(errors="replace")[:match.start()].count("\n") + 1
                    yield f"{path.relative_to(ROOT)}:{line}: includes {target}/, " \
                          f"which is not below {folder}/"


def main():
    found = list(violations())
    for v in found:
        print(v)
    print(f"layers: {len(found)} include(s) pointing up or sideways")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
