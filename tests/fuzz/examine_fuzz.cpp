// kestpack's inspect and extract on arbitrary files: the input is written
// to a scratch file, inspected without a password as `kestpack inspect`
// does, then extracted with the password that the seed installers use.
#include "fuzz.h"
#include "common/text.h"
#include "pack/error.h"
#include "pack/examine.h"
#include <fstream>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const char Password[] = "secret";

std::string Lowered(std::string text)
{
    for (char &c : text)
        if (c >= 'A' && c <= 'Z')
            c = char(c + 32);
    return text;
}

void CheckReport(const PayloadReport &r, uint64_t length)
{
    FUZZ_CHECK(r.FileLength == length);
    FUZZ_CHECK(r.Section.HeaderOffset + 40 <= LocatorWindowSize &&
               r.Section.HeaderOffset + 40 <= length);
    FUZZ_CHECK(r.StreamsOffset >= r.Section.RawPointer);
    FUZZ_CHECK(r.Languages.size() == r.Header.Lengths[LanguageCount]);
    std::set<std::string> names;
    for (const StreamReport &s : r.Streams) {
        FUZZ_CHECK(s.Size > 0);
        FUZZ_CHECK(s.Offset >= r.StreamsOffset);
        if (s.State == StreamReport::Ok || s.State == StreamReport::Corrupt ||
            s.State == StreamReport::NotVerified)
            FUZZ_CHECK(s.Size >= StreamTrailerSize && s.Offset + s.Size <= length);
        // What extract names a file is a plain name, distinct from the others.
        FUZZ_CHECK(IsPlainFileName(s.FileName.c_str()) && s.FileName != ".");
        FUZZ_CHECK(names.insert(Lowered(s.FileName)).second);
    }
}

// The JSON form escapes every byte outside printable ASCII.
void CheckPrinted(const PayloadReport &r)
{
    std::ostringstream text, json;
    PrintReport(text, r);
    PrintReportJson(json, r);
    for (char c : json.str())
        FUZZ_CHECK(c == '\n' || (c >= 0x20 && c < 0x7F));
}

// What extract leaves: one file per stream that checked out, of its data's
// size, and nothing else.
void CheckExtracted(const PayloadReport &r, const fs::path &out)
{
    std::set<std::string> expected, found;
    for (const StreamReport &s : r.Streams)
        if (s.State == StreamReport::Ok) {
            expected.insert(s.FileName);
            FUZZ_CHECK(fs::file_size(out / s.FileName) == s.Size - StreamTrailerSize);
        }
    for (const auto &e : fs::directory_iterator(out))
        found.insert(e.path().filename().string());
    FUZZ_CHECK(found == expected);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const fs::path &dir = fuzz::ScratchFolder();
    fs::path file = dir / "setup.exe", out = dir / "out";
    {
        std::ofstream f(file, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char *>(data), std::streamsize(size));
    }
    bool readable = false, protectedPayload = false;
    try {
        PayloadReport r = InspectInstaller(file, std::nullopt, nullptr);
        CheckReport(r, size);
        CheckPrinted(r);
        protectedPayload = r.Settings.PasswordLength > 1;
        for (const StreamReport &s : r.Streams) {
            FUZZ_CHECK(s.State != StreamReport::Ok || !s.Scrambled);
            readable |= s.State == StreamReport::Ok || s.State == StreamReport::Corrupt ||
                        s.State == StreamReport::NotVerified;
        }
    } catch (const PackError &) {
        return 0;
    }
    // Extraction writes only streams that lie whole in the file.
    if (!readable)
        return 0;
    try {
        PayloadReport r = InspectInstaller(file, std::string(Password), &out);
        CheckReport(r, size);
        CheckExtracted(r, out);
    } catch (const PackError &) {
        // What inspect read, extract writes out; only a password that does
        // not match stops it.
        FUZZ_CHECK(protectedPayload);
    }
    std::error_code ec;
    fs::remove_all(out, ec);
    // Nothing of the extraction stays behind, temporaries included.
    FUZZ_CHECK(std::distance(fs::directory_iterator(dir), fs::directory_iterator()) == 1);
    return 0;
}
