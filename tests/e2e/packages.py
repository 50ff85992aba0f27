"""Real Windows Installer packages, built with wixl at test time."""
import contextlib
import subprocess
import uuid
from pathlib import Path

FIXTURES = Path(__file__).parent / "fixtures"


def guid(seed):
    """A stable product or component code for a test's own name."""
    return "{" + str(uuid.uuid5(uuid.NAMESPACE_URL, "kest-test:" + seed)).upper() + "}"


def build_msi(out, name="Kest Sample", version="1.0.0", product_code=None, seed=None,
              file_text="Installed by a Kest test.\r\n"):
    """Writes a package with one file, readme.txt, into out; returns its
    product code. A name beyond ASCII, which wixl cannot write, is set
    afterwards in code page 1252."""
    out = Path(out)
    seed = seed or name
    product_code = product_code or guid(seed + version)
    payload = out.with_suffix(".payload.txt")
    payload.write_text(file_text)
    ascii_name = "".join(c if c.isascii() else "_" for c in name)
    subprocess.run(
        ["wixl", "-o", out.name,
         "-D", f"ProductCode={product_code}", "-D", f"ProductName={ascii_name}",
         "-D", f"Version={version}", "-D", f"UpgradeCode={guid(seed + 'upgrade')}",
         "-D", f"ComponentGuid={guid(seed + 'component')}", "-D", f"Payload={payload.name}",
         str(FIXTURES / "product.wxs")],
        check=True, capture_output=True, cwd=out.parent)  # wixl takes sources relative
    payload.unlink()
    if ascii_name != name:
        set_property(out, "ProductName", name, 1252)
    return product_code


def set_property(msi, name, value, codepage):
    """Sets a row of the Property table of msi, in the code page that its
    strings are then stored in."""
    msi = Path(msi)
    idt = msi.parent / "_ForceCodepage.idt"
    idt.write_bytes(f"\r\n\r\n{codepage}\t_ForceCodepage\r\n".encode())
    subprocess.run(["msibuild", msi.name, "-i", idt.name], check=True, capture_output=True,
                   cwd=msi.parent)
    idt.unlink()
    subprocess.run(["msibuild", msi.name, "-q",
                    f"UPDATE `Property` SET `Value`='{value}' WHERE `Property`='{name}'"],
                   check=True, capture_output=True, cwd=msi.parent)




@contextlib.contextmanager
def installed(wine, name, seed, version="1.0.0"):
    """A product installed by Wine's own msiexec for the duration; yields
    its product code and uninstalls it afterwards."""
    folder = wine.scratch(seed + "-installed")
    code = guid(seed)
    build_msi(folder / "old.msi", name=name, version=version, product_code=code, seed=seed)
    r = wine.msiexec("/i", wine.win(folder / "old.msi"), "/qn")
    assert wine.product_value(code, "DisplayVersion") == version, r.stdout + r.stderr
    try:
        yield code
    finally:
        wine.msiexec("/x", code, "/qn")
