"""The generated transform is one that Wine's own msiexec applies, and one
that kestpack takes as a language file."""
from packages import build_msi
from packer import pack
from transform import encode_name, make_transform, read_properties, read_streams, read_summary


def test_transform_renames_the_installed_product(wine):
    folder = wine.scratch("transform")
    code = build_msi(folder / "base.msi", name="Kest Sample", seed="transform-e2e")
    make_transform(folder / "base.msi", folder / "de.mst",
                   {"ProductName": "Kest Beispiel", "ProductLanguage": "1031",
                    "ARPCOMMENTS": "Hinzugefügt"})
    try:
        r = wine.msiexec("/i", wine.win(folder / "base.msi"),
                         "TRANSFORMS=" + wine.win(folder / "de.mst"), "/qn")
        assert r.returncode == 0, r.stdout + r.stderr
        key = wine.product_key(code)
        # An update of an existing row and an inserted row both took.
        assert wine.reg_query(key, "DisplayName") == "Kest Beispiel"
        assert wine.reg_query(key, "Language") == "0x407"
        # reg query prints through the OEM code page; an export keeps UTF-16.
        export = folder / "uninstall.reg"
        assert wine.reg("export", key, wine.win(export), "/y").returncode == 0
        assert '"Comments"="Hinzugefügt"' in export.read_bytes().decode("utf-16").splitlines()
    finally:
        wine.msiexec("/x", code, "/qn")
    assert wine.product_key(code) is None


def test_transform_streams_and_summary(tmp_path):
    code = build_msi(tmp_path / "base.msi", name="Kest Sample", version="2.3.4",
                     seed="transform-shape")
    make_transform(tmp_path / "base.msi", tmp_path / "t.mst", {"ProductName": "X"})
    make_transform(tmp_path / "base.msi", tmp_path / "de.mst", {"ProductLanguage": "1031"})
    streams = read_streams(tmp_path / "t.mst")
    assert set(streams) == {"\x05SummaryInformation", encode_name("_StringPool"),
                            encode_name("_StringData"), encode_name("Property")}
    # One masked update: the key and the Value column, as refs 1 and 2.
    assert streams[encode_name("Property")] == bytes([2, 0, 1, 0, 2, 0])
    assert streams[encode_name("_StringData")] == b"ProductNameX"
    # An empty value is the null string, never an empty pool entry.
    make_transform(tmp_path / "base.msi", tmp_path / "e.mst", {"Manufacturer": ""})
    emptied = read_streams(tmp_path / "e.mst")
    assert emptied[encode_name("Property")] == bytes([2, 0, 1, 0, 0, 0])
    assert emptied[encode_name("_StringPool")][4:] == bytes([12, 0, 1, 0])
    summary = read_summary(streams)
    upgrade = read_properties(read_streams(tmp_path / "base.msi"))["UpgradeCode"]
    assert summary[9] == f"{code}2.3.4;{code}2.3.4;{upgrade}"
    assert summary[7] == summary[8] == "Intel;1033" and summary[16] == 0
    # A language transform is made for the package's language and gives another.
    german = read_summary(read_streams(tmp_path / "de.mst"))
    assert (german[7], german[8]) == ("Intel;1033", "Intel;1031")


def test_kestpack_takes_it_as_a_language_file(wine):
    folder = wine.scratch("transform-pack")
    code = build_msi(folder / "product.msi", name="Kest Sample", seed="transform-pack")
    make_transform(folder / "product.msi", folder / "de.mst", {"ProductName": "Kest Beispiel"})
    exe = pack(folder, {"ProductName": "Kest Sample", "ProductCode": code,
                        "ProductVersion": "1.0.0", "ProductFile": "product.msi",
                        "KestInitLangDefault": "English,1033", "Language1": "Deutsch,1031",
                        "LanguageFile1": "de.mst"})
    assert exe.exists()
