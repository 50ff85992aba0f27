"""A real Windows Installer transform (.mst) that changes Property rows.

No tool on the test machines writes one (Wine's MsiDatabaseGenerateTransform
is a stub, msitools has no generator), so this module writes the compound
file itself: the transform class on the root storage, a summary stream,
the transform's own string pool and a row-wise Property table stream.

    python3 transform.py base.msi out.mst ProductName="Kest Beispiel" ...
"""
import struct
import sys
import time
import uuid
from pathlib import Path

TRANSFORM_CLSID = uuid.UUID("{000C1082-0000-0000-C000-000000000046}").bytes_le
SUMMARY_FMTID = uuid.UUID("{F29F85E0-4FF9-1068-AB91-08002B27B3D9}").bytes_le
SUMMARY_STREAM = "\x05SummaryInformation"

ENDOFCHAIN, FREESECT, FATSECT, NOSTREAM = 0xFFFFFFFE, 0xFFFFFFFF, 0xFFFFFFFD, 0xFFFFFFFF
SECTOR, MINI_SECTOR, MINI_CUTOFF = 512, 64, 4096
PID_CODEPAGE, PID_TITLE, PID_TEMPLATE, PID_LASTAUTHOR, PID_REVNUMBER = 1, 2, 7, 8, 9
PID_LASTSAVE_DTM, PID_PAGECOUNT, PID_CHARCOUNT = 13, 14, 16
VT_I2, VT_I4, VT_LPSTR, VT_FILETIME = 2, 3, 30, 64

# --- Stream names -----------------------------------------------------------
# An installer database packs two name characters from [0-9A-Za-z._] into one
# UTF-16 unit (0x3800 + a + b*64), a lone one into 0x4800 + a, and marks its
# table streams with a leading 0x4840; the compound file allows only 31 units.
_ALPHABET = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz._"


def encode_name(name, table=True):
    out = [chr(0x4840)] if table else []
    i = 0
    while i < len(name):
        a = _ALPHABET.find(name[i])
        b = _ALPHABET.find(name[i + 1]) if i + 1 < len(name) else -1
        if a >= 0 and b >= 0:
            out.append(chr(0x3800 + a + (b << 6)))
            i += 2
        else:
            out.append(chr(0x4800 + a) if a >= 0 else name[i])
            i += 1
    return "".join(out)


# --- Reading a compound file ---------------------------------------------------
def read_streams(path):
    """Every stream of a compound file by its (raw) name."""
    data = Path(path).read_bytes()
    assert data[:8] == bytes.fromhex("d0cf11e0a1b11ae1"), f"{path}: not a compound file"
    size = 1 << struct.unpack_from("<H", data, 0x1E)[0]
    (fat_count, first_dir, _, cutoff, first_minifat, _, first_difat,
     _) = struct.unpack_from("<8I", data, 0x2C)

    def sector(n):
        return data[(n + 1) * size:(n + 2) * size]

    fat_sectors = list(struct.unpack_from("<109I", data, 0x4C))
    while first_difat not in (ENDOFCHAIN, FREESECT):  # packages too big for the header's list
        more = struct.unpack(f"<{size // 4}I", sector(first_difat))
        fat_sectors += more[:-1]
        first_difat = more[-1]
    fat = []
    for n in fat_sectors[:fat_count]:
        fat += struct.unpack(f"<{size // 4}I", sector(n))

    def chain(start, table, fetch):
        out, seen = bytearray(), set()
        while start not in (ENDOFCHAIN, FREESECT) and start not in seen:
            seen.add(start)
            out += fetch(start)
            start = table[start]
        return bytes(out)

    entries = chain(first_dir, fat, sector)
    root_start, root_size = struct.unpack_from("<II", entries, 0x74)
    ministream = chain(root_start, fat, sector)[:root_size]
    minifat_raw = chain(first_minifat, fat, sector)
    minifat = struct.unpack(f"<{len(minifat_raw) // 4}I", minifat_raw)
    streams = {}
    for at in range(0, len(entries), 128):
        name_len, kind = struct.unpack_from("<HB", entries, at + 0x40)
        if kind != 2:
            continue
        name = entries[at:at + max(name_len - 2, 0)].decode("utf-16-le")
        start, length = struct.unpack_from("<II", entries, at + 0x74)
        if length < cutoff:
            body = chain(start, minifat, lambda n: ministream[n * MINI_SECTOR:(n + 1) * MINI_SECTOR])
        else:
            body = chain(start, fat, sector)
        streams[name] = body[:length]
    return streams


# --- Reading the package ---------------------------------------------------------------
def _codec(codepage):
    # Codepage 0 is the neutral one; under an English system it reads as 1252.
    return f"cp{codepage or 1252}"


def read_strings(streams):
    """The database's string table (index 0 is the null string), its
    codepage, and the width of a string reference in its tables."""
    pool = streams[encode_name("_StringPool")]
    text = streams[encode_name("_StringData")]
    header = struct.unpack_from("<I", pool)[0]
    codepage, width = header & 0xFFFF, 3 if header & 0x80000000 else 2
    strings, at, i = [None], 0, 4
    while i < len(pool):
        length, refs = struct.unpack_from("<HH", pool, i)
        i += 4
        if length == 0 and refs:  # a string of 64 KiB or more: refs holds the high word
            length = refs << 16 | struct.unpack_from("<H", pool, i)[0]
            i += 4
        strings.append(text[at:at + length].decode(_codec(codepage)))
        at += length
    return strings, codepage, width


def read_properties(streams):
    """The Property table as a dict. Tables store column after column."""
    strings, _, width = read_strings(streams)
    raw = streams[encode_name("Property")]
    rows = len(raw) // (2 * width)
    refs = [int.from_bytes(raw[i * width:(i + 1) * width], "little") for i in range(2 * rows)]
    return {strings[refs[r]]: strings[refs[rows + r]] for r in range(rows)}


def read_summary(streams):
    """The first section of the summary stream as {property id: value}."""
    data = streams[SUMMARY_STREAM]
    section = struct.unpack_from("<I", data, 44)[0]
    count = struct.unpack_from("<I", data, section + 4)[0]
    out = {}
    for k in range(count):
        pid, offset = struct.unpack_from("<II", data, section + 8 + 8 * k)
        at = section + offset
        kind = struct.unpack_from("<I", data, at)[0]
        if kind == VT_I2:
            out[pid] = struct.unpack_from("<h", data, at + 4)[0]
        elif kind == VT_I4:
            out[pid] = struct.unpack_from("<i", data, at + 4)[0]
        elif kind == VT_LPSTR:
            n = struct.unpack_from("<I", data, at + 4)[0]
            out[pid] = data[at + 8:at + 8 + n].split(b"\0")[0].decode("latin-1")
    return out


# --- Writing the transform ---------------------------------------------------------------
def summary_stream(values):
    """A property set stream with one section; values maps id -> (type, value)."""
    body, index = bytearray(), []
    header_size = 8 + 8 * len(values)
    for pid, (kind, value) in sorted(values.items()):
        index.append(struct.pack("<II", pid, header_size + len(body)))
        if kind == VT_I2:
            body += struct.pack("<Ihxx", kind, value)
        elif kind == VT_I4:
            body += struct.pack("<Ii", kind, value)
        elif kind == VT_FILETIME:
            body += struct.pack("<IQ", kind, value)
        else:
            text = value.encode("latin-1") + b"\0"
            body += struct.pack("<II", kind, len(text)) + text + bytes(-len(text) % 4)
    section = struct.pack("<II", header_size + len(body), len(values)) + b"".join(index) + body
    return (struct.pack("<HHI16sI", 0xFFFE, 0, 0x00020006, bytes(16), 1)
            + SUMMARY_FMTID + struct.pack("<I", 48) + section)


def string_pool(strings, codepage):
    """_StringPool and _StringData for the transform's own strings, each
    counted once per reference; they are numbered from 1."""
    pool = bytearray(struct.pack("<I", codepage))
    data = bytearray()
    for text, refs in strings.items():
        raw = text.encode(_codec(codepage))
        assert len(raw) < 0x10000, "long strings are not needed here"
        pool += struct.pack("<HH", len(raw), refs)
        data += raw
    return bytes(pool), bytes(data)


def property_rows(changes, existing):
    """The Property table as a transform stores it: row after row, each led
    by a 16-bit column mask. A mask with bit 0 clear updates the row found
    by its key (the key is always present) in the columns whose bits are
    set; bit 0 set inserts a whole row, the high byte giving its column
    count. Property is (Property s72 key, Value l0), both string refs."""
    refs = {}  # text -> number of references, in order of first use

    def ref(text):
        if not text:  # the null string is 0 and has no pool entry: (0, n) would mean a long one
            return 0
        refs[text] = refs.get(text, 0) + 1
        return list(refs).index(text) + 1

    rows = bytearray()
    for name, value in changes.items():
        mask = 0x0002 if name in existing else 0x0201
        rows += struct.pack("<HHH", mask, ref(name), ref(value))
    assert len(refs) < 0x10000, "too many strings for two-byte references"
    return bytes(rows), refs


def compound_file(streams, clsid):
    """A version 3 compound file (512-byte sectors) holding flat streams
    under a root storage of the given class."""
    names = sorted(streams, key=lambda n: (len(n), n.upper()))
    mini, minifat, big = bytearray(), [], []
    starts = {}
    for name in names:
        body = streams[name]
        if len(body) < MINI_CUTOFF:  # small streams live in the root's mini stream
            starts[name] = len(mini) // MINI_SECTOR if body else ENDOFCHAIN
            count = -(-len(body) // MINI_SECTOR)
            minifat += [starts[name] + k + 1 for k in range(count - 1)] + [ENDOFCHAIN] * bool(count)
            mini += body + bytes(-len(body) % MINI_SECTOR)
        else:
            big.append(name)

    def sectors(n):
        return -(-n // SECTOR)

    directory_len = sectors(128 * (len(names) + 1))
    minifat_len = sectors(4 * len(minifat))
    content = [directory_len, minifat_len, sectors(len(mini))] + [sectors(len(streams[n])) for n in big]
    fat_len = 1
    while fat_len * SECTOR // 4 < fat_len + sum(content):
        fat_len += 1
    assert fat_len <= 109, "a transform this big needs DIFAT sectors"

    fat, runs, next_sector = [FATSECT] * fat_len, [], fat_len
    for length in content:
        runs.append(next_sector if length else ENDOFCHAIN)
        fat += [next_sector + k + 1 for k in range(length - 1)] + [ENDOFCHAIN] * bool(length)
        next_sector += length
    fat += [FREESECT] * (fat_len * SECTOR // 4 - len(fat))
    first_dir, first_minifat, mini_start = runs[:3]
    for name, start in zip(big, runs[3:]):
        starts[name] = start

    # The children of the root form a binary search tree in the compound
    # file's name order; a balanced one with every node black is valid.
    left, right = {}, {}

    def tree(lo, hi):
        if lo >= hi:
            return NOSTREAM
        mid = (lo + hi) // 2
        left[mid], right[mid] = tree(lo, mid), tree(mid + 1, hi)
        return mid + 1  # entry 0 is the root

    top = tree(0, len(names))

    def entry(name, kind, child, lchild, rchild, clsid_bytes, start, size):
        raw = name.encode("utf-16-le") + b"\0\0"
        assert len(raw) <= 64, name
        return struct.pack("<64sHBBIII16sI16sIII", raw, len(raw), kind, 1, lchild, rchild, child,
                           clsid_bytes, 0, bytes(16), start, size, 0)

    dirs = entry("Root Entry", 5, top, NOSTREAM, NOSTREAM, clsid, mini_start, len(mini))
    for k, name in enumerate(names):
        dirs += entry(name, 2, NOSTREAM, left[k], right[k], bytes(16), starts[name], len(streams[name]))
    dirs += bytes(-len(dirs) % SECTOR)

    difat = [k for k in range(fat_len)] + [FREESECT] * (109 - fat_len)
    header = (bytes.fromhex("d0cf11e0a1b11ae1") + bytes(16)
              + struct.pack("<HHHHH6xII", 0x3E, 3, 0xFFFE, 9, 6, 0, fat_len)
              + struct.pack("<IIIIIII", first_dir, 0, MINI_CUTOFF, first_minifat,
                            minifat_len, ENDOFCHAIN, 0)
              + struct.pack("<109I", *difat))
    def pad(b):
        return bytes(b) + bytes(-len(b) % SECTOR)

    minifat_raw = struct.pack(f"<{len(minifat)}I", *minifat)
    minifat_raw += struct.pack("<I", FREESECT) * (-len(minifat_raw) % SECTOR // 4)
    body = struct.pack(f"<{len(fat)}I", *fat) + dirs + minifat_raw + pad(mini)
    body += b"".join(pad(streams[n]) for n in big)
    return header + body


def make_transform(base_msi, out_mst, properties):
    """Writes out_mst: applied to base_msi, it sets each Property row named
    in properties to its value (adding rows the package lacks)."""
    streams = read_streams(base_msi)
    existing = read_properties(streams)
    _, codepage, _ = read_strings(streams)
    summary = read_summary(streams)
    rows, strings = property_rows(properties, existing)
    pool, data = string_pool(strings, codepage)

    new = {**existing, **properties}
    # "{old code}old version;{new code}new version;{upgrade code}": what the
    # validation flags would test; flags 0 lets it apply to any package.
    revision = (f"{existing['ProductCode']}{existing['ProductVersion']};"
                f"{new['ProductCode']}{new['ProductVersion']};{new.get('UpgradeCode', '')}")
    template = summary.get(PID_TEMPLATE, "Intel;1033")
    # A language transform says so: the result's language follows ProductLanguage.
    platform, _, language = template.partition(";")
    result = f"{platform};{properties.get('ProductLanguage', language)}"
    now = int((time.time() + 11644473600) * 10**7)  # FILETIME counts 100 ns from 1601
    values = {
        PID_CODEPAGE: (VT_I2, summary.get(PID_CODEPAGE, 1252)),
        PID_TITLE: (VT_LPSTR, "Transform"),
        PID_TEMPLATE: (VT_LPSTR, template),     # the platform and language it is made for
        PID_LASTAUTHOR: (VT_LPSTR, result),     # ... and those of the result
        PID_REVNUMBER: (VT_LPSTR, revision),
        PID_LASTSAVE_DTM: (VT_FILETIME, now),
        PID_PAGECOUNT: (VT_I4, summary.get(PID_PAGECOUNT, 200)),
        PID_CHARCOUNT: (VT_I4, 0),              # validation flags
    }
    out = {
        SUMMARY_STREAM: summary_stream(values),
        encode_name("_StringPool"): pool,
        encode_name("_StringData"): data,
        encode_name("Property"): rows,
    }
    Path(out_mst).write_bytes(compound_file(out, TRANSFORM_CLSID))
    return Path(out_mst)


def main(argv):
    if len(argv) < 3 or not all("=" in a for a in argv[2:]):
        print("usage: transform.py BASE.msi OUT.mst NAME=VALUE...", file=sys.stderr)
        return 2
    make_transform(argv[0], argv[1], dict(a.split("=", 1) for a in argv[2:]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
