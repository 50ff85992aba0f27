"""The built stubs' PE shape: what other modules and old Windows rely on.
Both stubs are checked on every host: these checks read files and run
nothing."""
import re
import struct
import subprocess
import xml.etree.ElementTree as ET

import pytest

from pe import PeImage
from winehost import STUB32, STUB64

KNOWN_DLLS = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "ADVAPI32.DLL", "SHELL32.DLL"}
DIALOGS = ("LanguageDlg", "PasswordDlg", "ProgressDlg")
# The 32-bit stub's budget; the 64-bit one has longer code and pointers.
SIZE_BUDGET = {"x86": 49152, "x64": 65536}
RT_MANIFEST = 24
ASM_V1, ASM_V2, ASM_V3 = (f"urn:schemas-microsoft-com:asm.v{n}" for n in (1, 2, 3))
WINDOWS_SETTINGS = "http://schemas.microsoft.com/SMI/2005/WindowsSettings"
COMPATIBILITY = "urn:schemas-microsoft-com:compatibility.v1"
SUPPORTED_OS = [
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  # Vista
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # 10 and 11
]


@pytest.fixture(scope="module", params=["x86", "x64"])
def arch(request):
    return request.param


@pytest.fixture(scope="module")
def image(arch):
    return PeImage((STUB64 if arch == "x64" else STUB32).read_bytes())


def test_gui_image_for_the_oldest_windows_of_its_kind(image, arch):
    if arch == "x86":
        assert (image.machine, image.magic) == (0x14C, 0x10B)
        assert image.subsystem_version == (4, 0)
    else:
        assert (image.machine, image.magic) == (0x8664, 0x20B)
        # 64-bit Windows refuses a subsystem version below 5.2.
        assert image.subsystem_version == (5, 2)
        assert image.dll_characteristics & 0x20  # high-entropy ASLR
    assert image.subsystem == 2
    # Relocatable, so other modules can load it and it gets ASLR; NX-compatible.
    assert image.dll_characteristics & 0x40 and image.dll_characteristics & 0x100
    assert image.section(".reloc") is not None
    assert image.characteristics & 0x1 == 0  # relocations not stripped
    assert image.symbol_table == 0  # stripped
    # No unwind tables: pulled in with a runtime-library routine, they cost
    # a section of their own.
    assert image.section(".eh_fram") is None
    assert len(image.data) <= SIZE_BUDGET[arch]


def test_kest_section_marks_settings_file_mode(image):
    kest = image.section(".KEST")
    assert kest is not None
    assert kest.raw_size == 512
    data = image.data[kest.raw_pointer:kest.raw_pointer + kest.raw_size]
    assert struct.unpack_from("<I", data)[0] == 0x12345678
    assert data[4:] == bytes(508)
    # Initialised data, readable, not writable and not code.
    assert kest.characteristics & 0x40 and kest.characteristics & 0x40000000
    assert not kest.characteristics & (0x80000000 | 0x20)
    # The locator only looks at the first 1,536 bytes.
    assert kest.header_offset + 40 <= 1536


def test_imports_only_known_dlls(image):
    imports = {name.upper() for name in image.imports()}
    assert imports <= KNOWN_DLLS, imports - KNOWN_DLLS


def test_exports_by_the_names_callers_look_up(image, arch):
    names = set(image.exports())
    if arch == "x86":
        # Standard-call decoration only, with no undecorated duplicates.
        for name in names:
            assert name.startswith("_") and "@" in name, name
        assert {f"_{d}@16" for d in DIALOGS} | {"_UpdateCRC@8"} <= names
        assert not names & {*DIALOGS, "LanguageDlg@16"}
    else:
        # x86-64 has no decoration: the plain names, nothing else.
        assert {*DIALOGS, "UpdateCRC"} <= names
        for name in names:
            assert "@" not in name and not name.startswith("_"), name
    # Each points into the code: a link that loses the routine behind an
    # export leaves a name with no code.
    text = image.section(".text")
    for name, rva in image.export_addresses().items():
        assert text.virtual_address <= rva < text.virtual_address + text.virtual_size, name


def test_x86_code_runs_on_a_386_outside_the_vector_path():
    """Windows 95 runs on a 386 and NT 4 on a 486: no conditional move, byte
    swap or newer integer instruction anywhere. The SSE2 and carry-less
    multiplication routines run only after the processor said it has them."""
    listing = subprocess.run(["i686-w64-mingw32-objdump", "-d", "--no-show-raw-insn",
                              str(STUB32)], check=True, capture_output=True, text=True).stdout
    newer = re.compile(r"\t(cmov\w+|bswap|xadd|cmpxchg\w*|fcomi\w*|fucomi\w*|rdtsc|cpuid)\b")
    found = [line for line in listing.splitlines() if newer.search(line)]
    # The one CPUID is the one that asks, after the ID flag said it may.
    assert [line.split("\t")[-1].strip() for line in found] == ["cpuid"]


def manifest_of(image):
    found = {key: data for key, data in image.resources().items() if key[0] == RT_MANIFEST}
    # The one that Windows reads at the start of a process.
    assert list(found) == [(RT_MANIFEST, 1, 1033)]
    return found[(RT_MANIFEST, 1, 1033)]


def test_manifest_keeps_the_program_unelevated_and_sharp(image):
    data = manifest_of(image)
    lint = subprocess.run(["xmllint", "--noout", "-"], input=data, capture_output=True)
    assert lint.returncode == 0, lint.stderr.decode(errors="replace")
    # Compact: no whitespace between elements, no comments.
    assert not re.search(rb">\s+<", data) and b"<!--" not in data
    # Each namespace declared once: Windows XP SP2 crashes on an element
    # that declares one twice.
    declared = re.findall(rb'xmlns(?::[\w.-]+)?="([^"]*)"', data)
    assert sorted(d.decode() for d in declared) == sorted(
        [ASM_V1, ASM_V2, ASM_V3, WINDOWS_SETTINGS, COMPATIBILITY])
    root = ET.fromstring(data)
    assert (root.tag, root.get("manifestVersion")) == (f"{{{ASM_V1}}}assembly", "1.0")
    # Windows XP refuses an element of asm.v1 it does not know: everything
    # newer stands in a namespace of its own.
    assert [child.tag for child in root if child.tag.startswith(f"{{{ASM_V1}}}")] == [
        f"{{{ASM_V1}}}dependency"]
    level = root.find(f"{{{ASM_V2}}}trustInfo/{{{ASM_V2}}}security/{{{ASM_V2}}}requestedPrivileges/"
                      f"{{{ASM_V2}}}requestedExecutionLevel")
    assert level.attrib == {"level": "asInvoker", "uiAccess": "false"}
    dpi = root.find(f"{{{ASM_V3}}}application/{{{ASM_V3}}}windowsSettings/"
                    f"{{{WINDOWS_SETTINGS}}}dpiAware")
    assert dpi.text == "true"
    systems = root.findall(f"{{{COMPATIBILITY}}}compatibility/{{{COMPATIBILITY}}}application/"
                           f"{{{COMPATIBILITY}}}supportedOS")
    assert [s.get("Id") for s in systems] == SUPPORTED_OS
    controls = root.find(f"{{{ASM_V1}}}dependency/{{{ASM_V1}}}dependentAssembly/"
                         f"{{{ASM_V1}}}assemblyIdentity")
    assert controls.attrib == {"type": "win32", "name": "Microsoft.Windows.Common-Controls",
                               "version": "6.0.0.0", "processorArchitecture": "*",
                               "publicKeyToken": "6595b64144ccf1df", "language": "*"}


def test_both_stubs_carry_the_same_manifest():
    assert manifest_of(PeImage(STUB32.read_bytes())) == manifest_of(PeImage(STUB64.read_bytes()))
