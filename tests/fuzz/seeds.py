"""Seed corpora of the fuzzers, made at build time: installers that kestpack
packs from sample inputs (a small stub image of each layout, stand-in
packages and transforms), the parts of them that each parser reads, and the
texts that the unit tests hold (command lines, settings values, URLs, proxy
values, status lines)."""
import json
import random
import re
import shutil
import struct
import subprocess
import sys
import uuid
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
UNIT = ROOT / "tests" / "unit"
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
from transform import (SUMMARY_STREAM, TRANSFORM_CLSID, compound_file, encode_name,  # noqa: E402
                       summary_stream)

PACKAGE_CLSID = uuid.UUID("{000C1084-0000-0000-C000-000000000046}").bytes_le
LOCATOR_WINDOW = 1536
PASSWORD = "secret"  # the password examine_fuzz extracts with


def make_stub(plus=False, kest_raw=512):
    """A PE32 (or PE32+) image with .text, .KEST and .rsrc, laid out as the
    linker lays out the real stub, in 0xA00 bytes."""
    b = bytearray(0x800)
    b[0:2] = b"MZ"
    nt, opt_size = 0x80, 0xF0 if plus else 0xE0
    opt, table = nt + 24, nt + 24 + opt_size
    struct.pack_into("<I", b, 0x3C, nt)
    b[nt:nt + 4] = b"PE\0\0"
    struct.pack_into("<HH", b, nt + 4, 0x8664 if plus else 0x14C, 3)
    struct.pack_into("<H", b, nt + 20, opt_size)
    struct.pack_into("<H", b, opt, 0x20B if plus else 0x10B)
    struct.pack_into("<I", b, opt + 8, 0x400)
    struct.pack_into("<II", b, opt + 32, 0x1000, 0x200)
    struct.pack_into("<I", b, opt + (108 if plus else 92), 16)
    for i, name in enumerate([b".text", b".KEST", b".rsrc"]):
        h = table + 40 * i
        b[h:h + len(name)] = name
        struct.pack_into("<IIII", b, h + 8, 4, 0x1000 * (i + 1),
                         kest_raw if i == 1 else 0x200, 0x200 * (i + 1))
    struct.pack_into("<I", b, 0x400, 0x12345678)
    b[0x200] = 0xC3
    b.extend(bytes(max(0, 0x400 + kest_raw - len(b))))
    return bytes(b)


def make_package(properties, long_refs=False, extra=0, seed=0):
    """A Windows Installer package whose Property table holds properties,
    its string references three bytes wide with long_refs, then extra bytes
    of noise."""
    strings = list(dict.fromkeys(t for row in properties.items() for t in row if t))
    pool = bytearray(struct.pack("<HH", 0, 0x8000 if long_refs else 0))
    for text in strings:
        n = len(text.encode("latin-1"))
        # A string of 64 KiB or more takes two entries: (0, refs), then its length.
        pool += struct.pack("<HH", n, 1) if n < 0x10000 else struct.pack("<HHI", 0, 1, n)
    width = 3 if long_refs else 2
    refs = [strings.index(t) + 1 if t else 0 for t in properties] + \
        [strings.index(t) + 1 if t else 0 for t in properties.values()]
    streams = {
        SUMMARY_STREAM: summary_stream({7: (30, "Intel;1033"), 9: (30, "{" + "A" * 36 + "}")}),
        encode_name("_StringPool"): bytes(pool),
        encode_name("_StringData"): "".join(strings).encode("latin-1"),
        encode_name("Property"): b"".join(r.to_bytes(width, "little") for r in refs),
    }
    rnd = random.Random(seed)
    return compound_file(streams, PACKAGE_CLSID) + bytes(rnd.randrange(256) for _ in range(extra))


def make_transform(product, extra=0, seed=0):
    """A transform whose summary information says it is made for product."""
    revision = f"{product}1.0;{product}1.0;"
    streams = {SUMMARY_STREAM: summary_stream({7: (30, "Intel;1033"), 9: (30, revision)})}
    rnd = random.Random(seed)
    return compound_file(streams, TRANSFORM_CLSID) + bytes(rnd.randrange(256) for _ in range(extra))


CODE = "{11111111-2222-3333-4444-555555555555}"
# The sample package names its code alone, which every sample INI gives.
PACKAGE = {"ProductCode": CODE, "Manufacturer": "Kest", "ALLUSERS": "1"}

# The sample installers: [KestInstaller] and [KestPack] keys, and the stub.
CONFIGS = {
    "full": ({"ProductName": "Kest Demo", "ProductCode": CODE, "ProductVersion": "2.5.1",
              "ProductFile": "product.msi", "RuntimeUpdateVersion": "3.1.4000.2435",
              "CharFont": "Tahoma", "CharSet": "238", "CharSize": "10",
              "KestInitLangAlwaysPrompt": "1", "DelayReboot": "1", "CmdLine": "/qb REBOOT=R",
              "AdminError": "Admin please",
              "ExistError": "%s %s is there; install %s %s? Remove %s?",
              "CRCError": "\"Broken download\"", "Runtime9X": "instmsia.exe",
              "RuntimeNT": "instmsiw.exe", "KestInitLangPrompt": "Choose:",
              "KestInitLangDefault": "English,1033", "Language1": "Deutsch,1031;2055",
              "Language2": "Fran\xe7ais;1036", "Language3": "Magyar,1038",
              "LanguageFile1": "lang1.mst", "LanguageFile2": "lang2.mst",
              "LanguageFile3": "lang3.mst"},
             {"Password": PASSWORD, "PackageFileName": "Demo.msi"}),
    "plain": ({"ProductName": "Plain", "ProductCode": CODE, "ProductVersion": "1.0",
               "ProductFile": "product.msi", "KestInitLangDefault": "English,1033",
               "Language1": "Deutsch,1031", "LanguageFile1": "lang1.mst"}, {}),
    "dotnet": ({"ProductName": "Net", "ProductCode": CODE, "ProductVersion": "1.0",
                "ProductFile": "product.msi", "RuntimeVersion": "2.0.50727",
                "RuntimeDotNet": "http://example.test/dotnetfx.exe",
                "RuntimeSizeDotNet": "23510720",
                "RuntimeDotNetUpdate": "http://example.test/NDP20-KB.exe",
                "RuntimeSizeDotNetUpdate": "1000"}, {"Password": "x"}),
    "external": ({"ProductName": "Ext", "ProductCode": CODE, "ProductVersion": "1.0",
                  "Runtime9X": "http://example.test/InstMsiA.exe", "RuntimeSize9X": "1707856",
                  "Reboot": "Restart now?", "Internet": "No connection"},
                 {"ExternalPackagePath": "\\\\server\\share\\demo.msi"}),
    "minimal": ({"ProductCode": CODE, "ProductVersion": "1", "ProductFile": "product.msi"}, {}),
}


def ini_text(installer, pack_keys):
    lines = ["; sample", "[KestInstaller]"] + [f"{k}={v}" for k, v in installer.items()]
    if pack_keys:
        lines += ["[KestPack]"] + [f"{k}={v}" for k, v in pack_keys.items()]
    return ("\r\n".join(lines) + "\r\n").encode("latin-1")


def pack_samples(kestpack, work):
    """Packs every sample with both stub layouts; returns the installers."""
    if work.exists():
        shutil.rmtree(work)
    work.mkdir(parents=True)
    (work / "product.msi").write_bytes(make_package(PACKAGE, extra=600, seed=1))
    for k in range(1, 4):
        (work / f"lang{k}.mst").write_bytes(make_transform(CODE, 40 * k + k, 10 + k))
    (work / "instmsia.exe").write_bytes(bytes(random.Random(2).randrange(256) for _ in range(301)))
    (work / "instmsiw.exe").write_bytes(b"MZ\x90\0\3")
    stubs = {"x86": make_stub(), "x64": make_stub(plus=True)}
    for arch, image in stubs.items():
        (work / f"stub-{arch}.exe").write_bytes(image)
    made = []
    for name, (installer, pack_keys) in CONFIGS.items():
        (work / f"{name}.ini").write_bytes(ini_text(installer, pack_keys))
        for arch in stubs:
            out = work / f"{name}-{arch}.exe"
            subprocess.run([str(kestpack), "build", str(work / f"{name}.ini"), "-o", str(out),
                            "--stub", str(work / f"stub-{arch}.exe")],
                           check=True, capture_output=True)
            made.append(out)
    return made


def payload_offset(kestpack, installer):
    r = subprocess.run([str(kestpack), "inspect", str(installer), "--json"],
                       capture_output=True, text=True, errors="replace")
    return json.loads(r.stdout)["payloadOffset"]


_LITERAL = re.compile(r'"((?:[^"\\\n]|\\.)*)"')
_ESCAPE = re.compile(r'\\(x[0-9A-Fa-f]+|[0-7]{1,3}|.)')
_SIMPLE = {"n": "\n", "r": "\r", "t": "\t", "0": "\0", "\\": "\\", '"': '"', "'": "'"}


def _unescape(body):
    def one(m):
        e = m.group(1)
        if e[0] == "x":
            return chr(int(e[1:], 16) & 0xFF)
        if e[0] in "01234567":
            return chr(int(e, 8) & 0xFF)
        return _SIMPLE.get(e, e)
    return _ESCAPE.sub(one, body)


def literals(*files):
    """The string literals of test sources, adjacent ones joined, as bytes."""
    out = []
    for f in files:
        text = (UNIT / f).read_text(encoding="latin-1")
        # Join literals that only blanks separate: "Fran\xe7" "ais".
        text = re.sub(r'"\s*\n?\s*"', "", text)
        out += [_unescape(m.group(1)).encode("latin-1") for m in _LITERAL.finditer(text)]
    return sorted(set(out))


def fields(*parts):
    return b"\0".join(p if isinstance(p, bytes) else p.encode("latin-1") for p in parts)


def write(corpus, name, items):
    folder = corpus / name
    folder.mkdir(parents=True, exist_ok=True)
    for i, data in enumerate(items):
        (folder / f"seed-{i:03d}").write_bytes(data)


def generate(build):
    """Writes build/fuzz/seeds/<fuzzer>/; returns that folder."""
    build = Path(build)
    kestpack = build.parent / "bin" / "kestpack"
    if not kestpack.exists():
        raise SystemExit(f"fuzz seeds: {kestpack} is missing; run 'make native' first")
    corpus = build / "seeds"
    if corpus.exists():
        shutil.rmtree(corpus)
    work = build / "seed-inputs"
    installers = pack_samples(kestpack, work)
    files = [p.read_bytes() for p in installers]
    real_stubs = [p.read_bytes() for p in (build.parent / "bin").glob("kestsetup*.exe")]

    write(corpus, "section_fuzz", [f[:LOCATOR_WINDOW] for f in files + real_stubs]
          + [make_stub(), make_stub(True)])
    write(corpus, "stub_fuzz", [make_stub(), make_stub(True)] + real_stubs)
    payloads = [f[payload_offset(kestpack, p):] for f, p in zip(files, installers)]
    write(corpus, "header_fuzz", payloads)
    write(corpus, "tail_fuzz", [bytes([control]) + struct.pack("<I", base) + p
                                for p in payloads for control, base in
                                ((0, 0x600), (1, 0x600), (2, 0), (0x80, 0x7FFFF000))])
    write(corpus, "examine_fuzz", files)
    write(corpus, "compound_fuzz", [(work / n).read_bytes() for n in
                                    ("product.msi", "lang1.mst", "lang2.mst", "instmsiw.exe")])
    write(corpus, "database_fuzz", [
        (work / "product.msi").read_bytes()[:-600], (work / "lang1.mst").read_bytes()[:-41],
        make_package({**PACKAGE, "ProductName": "Kest \xc4", "ProductVersion": "2.5.1",
                      "UpgradeCode": CODE.replace("1", "9"), "ProductLanguage": "1033",
                      "Empty": "", "Long": "x" * 5000}, long_refs=True)])
    inis = [(work / f"{n}.ini").read_bytes() for n in CONFIGS]
    write(corpus, "ini_fuzz", inis + [b"\xef\xbb\xbf[KestInstaller]\r\nA=1\r\n",
                                      b"[A]\nk = ' v '\n[a]\nk=2\n;c\n[B\nx=\"q\"\n"])

    settings = literals("settings_test.cpp", "language_list_test.cpp")
    values = [v.encode("latin-1") for installer, _ in CONFIGS.values() for v in installer.values()]
    paths = [b"C:\\Program Files\\Kest\\setup.exe", b"C:\\a.b\\setup", b"setup.exe",
             b"\\\\server\\share\\x.y.z"]
    write(corpus, "settings_fuzz",
          [fields(v, v, paths[i % len(paths)], bytes([8 if i % 3 else 0x88, 255]),
                  b"%s %s is there; install %s %s? Remove %s? 100%% %d %")
           for i, v in enumerate(settings + values)])

    write(corpus, "cmdline_fuzz", literals("cmdline_test.cpp") +
          [b'"C:\\Kest\\setup.exe" /qn TRANSFORMS="a /q b.mst"', b"setup.exe /*/qb!-"])

    compose = literals("compose_test.cpp")
    write(corpus, "compose_fuzz",
          [fields(b"setup.exe " + c if c.startswith((b"/", b"%")) else c, c,
                  b"C:\\Program Files\\Common Files", b"Demo.msi", b"lang1.mst",
                  b"Product.msi" if i % 4 == 0 else b"", b"C:\\Kest\\setup.exe", bytes([i & 3]))
           for i, c in enumerate(compose)] +
          [fields(b'setup.exe /* /i "%A%.msi" /qn', b"/qb REBOOT=R", b"C:\\", b"x.mst", b"de.MST",
                  b"", b"C:\\setup.exe", b"\x02")])

    transfer = literals("transfer_test.cpp")
    urls = [t for t in transfer if t.lower().startswith((b"http://", b"ftp://"))]
    proxies = [t for t in transfer if b"=" in t and b"://" not in t and len(t) < 200] + \
        [b"h:3128", b"ftp=f:21;http=h:8080;socks=s:1080", b"socks=s1:1080", b"http://p:80"]
    bypasses = [b"<local>;*.example.test, intra:8080\tlocal", b"alpha;beta.gamma", b""]
    write(corpus, "proxy_fuzz",
          [fields(p, bypasses[i % 3], b"srv.beta.gamma", bytes([i & 1]))
           for i, p in enumerate(proxies + transfer)])
    write(corpus, "url_fuzz",
          [fields(u, b"user", b"pa:ss@word") for u in urls] +
          [fields(b"http://U:P@host/dir/file", b"Aladdin", b"open sesame"),
           fields(b"http://h/instmsiw.exe#SHA256=" + b"0123456789abcdefABCDEF" * 2 + b"0" * 20,
                  b"", b""),
           fields(b"ftp://a:b@h/", b"x" * 200, b"y" * 60)])
    forms = [b"name=John Smith\r\nsize=1 & 2", b"a=b=c\r\n\r\nno field here\r\nx = y", b""]
    write(corpus, "request_fuzz",
          [fields(u, proxies[i % len(proxies)], bypasses[i % 3], b"pu" if i % 2 else b"",
                  b"pp", forms[i % 3], bytes([i & 1, 40]))
           for i, u in enumerate(urls)])
    write(corpus, "response_fuzz", [t for t in transfer if t.startswith(b"HTTP/")] +
          [b"HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
           b"Content-Length: 12\r\n\r\nMZ0123456789"])
    return corpus


if __name__ == "__main__":
    import sys
    print(generate(sys.argv[1] if len(sys.argv) > 1 else ROOT / "build" / "fuzz"))
