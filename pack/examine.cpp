#include "pack/examine.h"
#include "pack/compound.h"
#include "pack/config.h"
#include "pack/error.h"
#include "pack/files.h"
#include "common/text.h"
#include "payload/crc32.h"
#include "payload/keystream.h"
#include "payload/tail.h"
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>

namespace fs = std::filesystem;

namespace {

const size_t ChunkSize = 65536;

std::string Stored(const unsigned char *p, unsigned length)
{
    unsigned n = 0;
    while (n < length && p[n])
        ++n;
    return std::string(reinterpret_cast<const char *>(p), n);
}

// Stored names run up to 254 bytes, but the temporary beside each output
// adds 22 and a distinct name "~N" a few more: past this length a file
// system that holds 255 bytes a name could not take the output.
const size_t FileNameLimit = 200;

// A name from the payload, used as a file name only when it is a plain one,
// by the stub's own rule ("." names the folder on Linux as well), and one
// that the file system can hold.
bool IsPlainName(const std::string &name)
{
    return name != "." && name.size() <= FileNameLimit && IsPlainFileName(name.c_str());
}

std::string Lowered(std::string text)
{
    for (char &c : text)
        if (c >= 'A' && c <= 'Z')
            c = char(c + 32);
    return text;
}

class PayloadFile {
public:
    explicit PayloadFile(const fs::path &path) : path_(path), in_(path, std::ios::binary)
    {
        if (!in_)
            throw PackError(path.string() + ": cannot read the file");
        in_.seekg(0, std::ios::end);
        length_ = uint64_t(in_.tellg());
    }

    uint64_t Length() const { return length_; }

    // Reads up to count bytes at offset; returns how many there were.
    size_t ReadAt(uint64_t offset, unsigned char *data, size_t count)
    {
        if (offset >= length_)
            return 0;
        in_.clear();
        in_.seekg(std::streamoff(offset));
        in_.read(reinterpret_cast<char *>(data), std::streamsize(count));
        return size_t(in_.gcount());
    }

private:
    fs::path path_;
    std::ifstream in_;
    uint64_t length_ = 0;
};

const char *StatusName(StreamReport::Status s);

// A carried stream as the package it holds, descrambled where the payload
// is protected: the keystream's state at any word is found by jumping
// ahead from the stream's start, so that the compound-file reader may
// read anywhere in it.
class CarriedStream : public ByteSource {
public:
    CarriedStream(PayloadFile &file, uint64_t offset, uint64_t length, bool scrambled, int seed)
        : file_(file), offset_(offset), length_(length), scrambled_(scrambled), seed_(seed)
    {
    }

    uint64_t Length() const override { return length_; }

    bool ReadAt(uint64_t offset, unsigned char *out, size_t count) override
    {
        if (offset > length_ || count > length_ - offset)
            return false;
        if (!scrambled_)
            return file_.ReadAt(offset_ + offset, out, count) == count;
        // Whole words, as the keystream scrambled them: one value a word,
        // then the last length % 4 bytes one value each.
        const uint64_t words = length_ / 4 * 4;
        uint64_t first = offset & ~uint64_t(3);
        uint64_t end = offset + count <= words ? (offset + count + 3) & ~uint64_t(3) : length_;
        std::vector<unsigned char> raw(size_t(end - first));
        if (file_.ReadAt(offset_ + first, raw.data(), raw.size()) != raw.size())
            return false;
        const int saved = KeystreamState;
        size_t inWords = first < words ? size_t(std::min<uint64_t>(raw.size(), words - first)) : 0;
        if (inWords) {
            KeystreamState = KeystreamJump(seed_, first / 4);
            KeystreamXor(raw.data(), int(inWords));
        }
        if (inWords < raw.size()) {
            KeystreamState = KeystreamJump(seed_, length_ / 4 + (first + inWords - words));
            KeystreamXor(raw.data() + inWords, int(raw.size() - inWords));
        }
        KeystreamState = saved;
        std::memcpy(out, raw.data() + (offset - first), count);
        return true;
    }

private:
    PayloadFile &file_;
    uint64_t offset_, length_;
    bool scrambled_;
    int seed_;
};

class Inspector {
public:
    Inspector(const fs::path &file, const std::optional<std::string> &password,
              const fs::path *extractDir)
        : file_(file), password_(password), extractDir_(extractDir)
    {
        FillCrcTable(crcTable_);
        report_.File = file.string();
        report_.FileLength = file_.Length();
    }

    PayloadReport Run()
    {
        ReadHeader();
        CheckPassword();
        WalkStreams();
        CompareIdentity();
        if (report_.Settings.TotalFileSize && report_.Settings.TotalFileSize != report_.FileLength)
            Problem("TotalFileSize is " + std::to_string(report_.Settings.TotalFileSize) +
                    " but the file holds " + std::to_string(report_.FileLength) +
                    " bytes; the stub refuses to run");
        return report_;
    }

private:
    void Problem(const std::string &what) { report_.Problems.push_back(what); }

    [[noreturn]] void Refuse(const std::string &what) const
    {
        throw PackError(report_.File + ": " + what);
    }

    void ReadHeader()
    {
        unsigned char head[LocatorWindowSize];
        size_t got = file_.ReadAt(0, head, sizeof head);
        PayloadSection &section = report_.Section;
        if (!FindPayloadSection(head, unsigned(got), &section))
            Refuse("no .KEST section within the first 1,536 bytes: not an installer made by "
                   "kestpack");
        // The search above has checked that the optional header's magic lies
        // inside what was read and is one of the two layouts.
        unsigned nt = LoadLe32(head + 0x3C);
        report_.Architecture =
            LoadLe16(head + nt + OptionalHeaderOffset) == Pe32PlusMagic ? "x64" : "x86";
        if (section.RawSize < EmbeddedRawSizeMinimum)
            Refuse("the .KEST section holds " + std::to_string(section.RawSize) +
                   " bytes: a stub without a payload (it reads a settings file)");
        std::vector<unsigned char> data(ChunkSize);
        size_t size = file_.ReadAt(section.RawPointer, data.data(), data.size());
        unsigned used = DecodePayloadHeader(data.data(), unsigned(size), long(section.RawPointer),
                                            &report_.Settings, &report_.Header,
                                            &report_.DotNetMode);
        if (!used)
            Refuse("the payload header runs past the end of the file");
        const unsigned char *lengths = report_.Header.Lengths;
        auto at = [&](long offset) { return data.data() + (offset - long(section.RawPointer)); };
        for (int k = LengthCmdLine; k <= LengthInternet; ++k)
            report_.Texts[k - LengthCmdLine] =
                Stored(at(report_.Header.TextRegionOffset) +
                           TextOffsetInRegion(lengths, HeaderLength(k)),
                       lengths[k]);
        report_.ExternalPackagePath = Stored(at(report_.Header.ExternalPackagePathOffset),
                                             lengths[LengthExternalPackagePath]);
        for (int e = 0; e < RuntimeEntryCount; ++e) {
            report_.Urls[e] = Stored(at(report_.Header.RuntimeUrlOffset[e]),
                                     lengths[RuntimeUrlLength(RuntimeEntry(e))]);
            ReadPin(e);
        }

        // Without the stub's 2 GiB limit: a stream that runs past the end of
        // the file is reported as such below, one by one.
        if (!WalkPayloadTail(section.RawPointer + used, ~0ul, &report_.Header, &report_.Settings,
                             report_.DotNetMode, ReadFromFile, &file_, &tail_))
            Refuse("a language entry runs past the end of the file");
        report_.LanguagePrompt =
            ReadText(tail_.LanguagePrompt, lengths[LengthLanguagePrompt], "the prompt");
        report_.FirstLanguage = ReadText(tail_.FirstLanguage, lengths[LengthFirstLanguage],
                                         "the first language entry");
        for (unsigned k = 1; k <= tail_.LanguageCount; ++k) {
            unsigned long offset;
            unsigned n;
            FindLanguageEntry(&tail_, k, ReadFromFile, &file_, &offset, &n);
            report_.Languages.push_back(ReadText(offset, n, "a language entry"));
            if (n > LanguageEntryMaximum)
                Problem("language entry " + std::to_string(k) + " holds " + std::to_string(n) +
                        " bytes; the stub reads at most 520");
        }
        report_.StreamsOffset = tail_.Runtime[0];
    }

    // The pin after a runtime's URL, as the stub reads it.
    void ReadPin(int e)
    {
        std::string url = report_.Urls[e];
        if (ReadDigestPin(&url, &report_.Pins[e]) == PinMalformed)
            Problem(std::string(RuntimeKeys[e]) + ": the pin after the URL is not #sha256= "
                    "and 64 hexadecimal digits; the stub refuses the installation");
    }

    static int ReadFromFile(void *source, unsigned long offset, unsigned char *out,
                            unsigned count)
    {
        return static_cast<PayloadFile *>(source)->ReadAt(offset, out, count) == count;
    }

    std::string ReadText(uint64_t offset, unsigned length, const char *what)
    {
        std::vector<unsigned char> bytes(length);
        if (file_.ReadAt(offset, bytes.data(), length) != length)
            Refuse(std::string(what) + " runs past the end of the file");
        return Stored(bytes.data(), length);
    }

    void CheckPassword()
    {
        const InstallerSettingsRecord &s = report_.Settings;
        if (s.PasswordLength <= 1 || !password_)
            return;
        std::string typed = *password_;
        if (typed.size() == size_t(s.PasswordLength - 1)) {
            std::vector<unsigned char> scrambled(typed.begin(), typed.end());
            ScramblePassword(scrambled.data(), int(scrambled.size()));
            if (std::equal(scrambled.begin(), scrambled.end(), s.StoredPassword)) {
                report_.PasswordChecked = true;
                return;
            }
        }
        Refuse("the password does not match");
    }

    void WalkStreams()
    {
        const InstallerSettingsRecord &s = report_.Settings;
        bool dotNet = report_.DotNetMode != 0;
        bool protectedPayload = s.PasswordLength > 1;
        if (protectedPayload && extractDir_ && !report_.PasswordChecked)
            Refuse("the installer is password-protected: give --password");
        Stream(tail_.Runtime[0], tail_.RuntimeSize[0], dotNet ? "runtime-dotnet" : "runtime-9x",
               false);
        Stream(tail_.Runtime[1], tail_.RuntimeSize[1],
               dotNet ? "runtime-dotnet-update" : "runtime-nt", false);
        std::string fallback = s.TransformMSI[0] ? "package.mst" : "package.msi";
        packageSeed_ = KeystreamState;
        Stream(tail_.Package, tail_.PackageSize, "package", protectedPayload, s.PackageFileName,
               fallback);
        const int afterPackage = KeystreamState;
        for (unsigned k = 1; k <= tail_.LanguageCount; ++k) {
            unsigned long offset;
            unsigned size;
            if (!FindTransform(&tail_, k, ReadFromFile, &file_, &offset, &size)) {
                Problem("the size of transform " + std::to_string(k) +
                        " lies past the end of the file");
                return;
            }
            KeystreamState = afterPackage;
            Stream(offset, size, "transform " + std::to_string(k), protectedPayload,
                   "language-" + std::to_string(k) + ".mst");
        }
    }

    // Checks the stream at position, of recorded size.
    void Stream(uint64_t position, uint32_t size, const std::string &name, bool scrambled,
                const std::string &fileName = "", const std::string &fallback = "")
    {
        if (size == 0)
            return;
        StreamReport r;
        r.Name = name;
        r.FileName = DistinctFileName(name, fileName.empty() ? name + ".exe" : fileName,
                                      fallback);
        r.Offset = position;
        r.Size = size;
        r.Scrambled = scrambled;
        if (size < StreamTrailerSize) {
            r.State = StreamReport::Malformed;
            Problem(name + ": recorded size " + std::to_string(size) + " leaves no room for its CRC");
            report_.Streams.push_back(r);
            return;
        }
        // A crafted size may claim gigabytes past the end: nothing after
        // this stream lies in the file then, so there is nothing to read,
        // descramble or keep the keystream in step for.
        if (size > file_.Length() || r.Offset > file_.Length() - size) {
            r.State = StreamReport::Truncated;
            Problem(name + ": runs past the end of the file (" + std::to_string(size) +
                    " bytes recorded, " +
                    std::to_string(r.Offset < file_.Length() ? file_.Length() - r.Offset : 0) +
                    " there)");
            report_.Streams.push_back(r);
            return;
        }
        bool descramble = scrambled && report_.PasswordChecked;
        if (scrambled && !descramble) {
            unsigned char trailer[4];
            if (file_.ReadAt(r.Offset + size - StreamTrailerSize, trailer, 4) == 4)
                r.StoredCrc = LoadLe32(trailer);
            r.State = StreamReport::NotVerified;
            report_.Streams.push_back(r);
            return;
        }
        std::unique_ptr<AtomicOutput> out;
        if (extractDir_)
            out = std::make_unique<AtomicOutput>(*extractDir_ / PathFromAnsi(r.FileName));
        std::vector<unsigned char> chunk(ChunkSize);
        uint64_t remaining = size - StreamTrailerSize, offset = r.Offset;
        unsigned crc = CrcRegisterReset;
        bool truncated = false; // the file shrank while it was read
        while (remaining) {
            size_t n = size_t(std::min<uint64_t>(remaining, ChunkSize));
            if (file_.ReadAt(offset, chunk.data(), n) != n) {
                truncated = true;
                break;
            }
            if (descramble)
                xor_(chunk.data(), int(n));
            crc = fold_(crc, crcTable_, chunk.data(), unsigned(n));
            if (out)
                out->Write(chunk.data(), n);
            remaining -= n;
            offset += n;
        }
        r.ComputedCrc = ~crc;
        unsigned char trailer[4];
        if (truncated || file_.ReadAt(offset, trailer, 4) != 4) {
            r.State = StreamReport::Truncated;
            Problem(name + ": runs past the end of the file");
        } else {
            r.StoredCrc = LoadLe32(trailer);
            if (r.StoredCrc != r.ComputedCrc) {
                r.State = StreamReport::Corrupt;
                char text[96];
                std::snprintf(text, sizeof text, ": CRC-32 %08X stored, %08X computed",
                              r.StoredCrc, r.ComputedCrc);
                Problem(name + text);
            } else if (out) {
                out->Commit();
            }
        }
        report_.Streams.push_back(r);
    }

    // Where the stored identity came from: the carried package's Property
    // table says the same, or not. Only a package whose CRC checked out is
    // read; a damaged one says nothing of where the values came from.
    void CompareIdentity()
    {
        const InstallerSettingsRecord &s = report_.Settings;
        const std::string stored[] = {s.ProductCode, s.ProductVersion, s.ProductName};
        auto all = [&](const char *source, const std::string &note) {
            for (int f = 0; f <= IdentityProductName; ++f)
                report_.IdentitySource[f] = source;
            report_.IdentityNote = note;
        };
        const StreamReport *package = nullptr;
        for (const StreamReport &st : report_.Streams)
            if (st.Name == "package")
                package = &st;
        if (s.TransformMSI[0])
            return all("ini", "the carried file is a transform of an installed package");
        if (!package)
            return all("ini", "the package is not carried");
        if (package->State != StreamReport::Ok)
            return all("unknown", "the package is " + std::string(StatusName(package->State)));
        try {
            CarriedStream source(file_, package->Offset, package->Size - StreamTrailerSize,
                                 package->Scrambled, packageSeed_);
            PackageIdentity identity = ReadPackageIdentity(source);
            for (int f = 0; f < IdentityFieldCount; ++f) {
                const std::string &theirs = identity.Values[f];
                report_.PackageValues[f] = theirs;
                if (f > IdentityProductName)
                    report_.IdentitySource[f] = theirs.empty() ? "" : "package";
                else
                    report_.IdentitySource[f] =
                        SameIdentityValue(IdentityField(f), stored[f], theirs) ? "package" : "ini";
            }
        } catch (const CompoundError &e) {
            all("unknown", std::string("the package's identity cannot be read: ") + e.what());
        }
    }

    // A later stream never overwrites an earlier one: a stored name such as
    // "language-1.mst" may be what a transform would be called. Case is
    // ignored, since the files may well be copied to Windows.
    std::string DistinctFileName(const std::string &stream, const std::string &wanted,
                                 const std::string &fallback)
    {
        std::string name = wanted;
        if (!IsPlainName(name)) {
            name = fallback;
            report_.Notes.push_back(stream + ": the stored name '" + wanted +
                                    "' is no plain file name or too long; saved as " +
                                    name);
        }
        if (taken_.insert(Lowered(name)).second)
            return name;
        size_t dot = name.rfind('.');
        std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
        std::string extension = dot == std::string::npos ? "" : name.substr(dot);
        std::string distinct;
        for (int k = 2;; ++k) {
            distinct = stem + "~" + std::to_string(k) + extension;
            if (taken_.insert(Lowered(distinct)).second)
                break;
        }
        report_.Notes.push_back(stream + ": " + name + " is already taken by another stream; "
                                "saved as " + distinct);
        return distinct;
    }

    std::set<std::string> taken_;
    PayloadFile file_;
    std::optional<std::string> password_;
    const fs::path *extractDir_;
    unsigned crcTable_[CrcTableEntries];
    // The 128-bit routines where this processor has them.
    const CrcFoldFn fold_ = FastestCrcFold();
    const KeystreamXorFn xor_ = FastestKeystreamXor();
    PayloadReport report_;
    PayloadTailRecord tail_{};
    int packageSeed_ = 0; // the keystream's state where the package stream begins
};

const char *StatusName(StreamReport::Status s)
{
    switch (s) {
    case StreamReport::Ok: return "ok";
    case StreamReport::Corrupt: return "corrupt";
    case StreamReport::Truncated: return "truncated";
    case StreamReport::Malformed: return "malformed";
    case StreamReport::NotVerified: return "not verified (scrambled: give --password)";
    }
    return "";
}

const char *StatusKey(StreamReport::Status s)
{
    switch (s) {
    case StreamReport::Ok: return "ok";
    case StreamReport::Corrupt: return "corrupt";
    case StreamReport::Truncated: return "truncated";
    case StreamReport::Malformed: return "malformed";
    case StreamReport::NotVerified: return "not-verified";
    }
    return "";
}

std::string Version(unsigned ms, unsigned ls)
{
    return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." +
           std::to_string(ls >> 16) + "." + std::to_string(ls & 0xFFFF);
}

std::string Hex(uint64_t v)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(v));
    return text;
}

// The message texts and CmdLine under their settings keys, in text-region order.
const char *const *const TextNames = SettingTextKey + SettingCmdLine;
const char *const UrlNames[] = {KeyRuntime9X, KeyRuntimeNT, KeyRuntimeDotNet, KeyRuntimeDotNetUpdate};

std::string Quoted(const std::string &text)
{
    return "\"" + text + "\"";
}

std::string Json(const std::string &text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

// A scalar setting of the report as both printers show it: its name in
// the text listing (the JSON key is the same with a lower-case first
// letter), and its value in each form.
struct Field {
    const char *Name;
    std::string Text;
    std::string Json;
};

Field Number(const char *name, uint64_t value)
{
    return {name, std::to_string(value), std::to_string(value)};
}

Field Textual(const char *name, const std::string &value)
{
    return {name, Quoted(value), Json(value)};
}

std::string JsonKey(const char *name)
{
    std::string key = name;
    key[0] = char(std::tolower(static_cast<unsigned char>(key[0])));
    return Json(key);
}

// The settings in the order both printers list them.
std::vector<Field> SettingsFields(const PayloadReport &r)
{
    const InstallerSettingsRecord &s = r.Settings;
    return {
        Number("DotNetMode", unsigned(r.DotNetMode)),
        Number("StreamSize9X", unsigned(s.StreamSize9X)),
        Number("StreamSizeNT", unsigned(s.StreamSizeNT)),
        Number("StreamSizeMSI", s.StreamSizeMSI),
        Number("DelayReboot", s.DelayReboot),
        Textual("PackageFileName", s.PackageFileName),
        Textual("ProductCode", s.ProductCode),
        Textual("ProductVersion", s.ProductVersion),
        Textual("TransformMSI", s.TransformMSI),
        Textual("CharFont", s.CharFont),
        Number("CharSet", s.CharSet),
        {"CharSize",
         std::to_string(s.CharSize & 0x7F) + ((s.CharSize & 0x80) ? " (always ask the language)" : ""),
         std::to_string(unsigned(s.CharSize))},
        Textual("ProductName", s.ProductName),
    };
}

} // namespace

PayloadReport InspectInstaller(const fs::path &file, const std::optional<std::string> &password,
                               const fs::path *extractDir)
{
    if (extractDir) {
        std::error_code ec;
        fs::create_directories(*extractDir, ec);
        if (ec)
            throw PackError(extractDir->string() + ": cannot create the folder: " + ec.message());
    }
    return Inspector(file, password, extractDir).Run();
}

void PrintReport(std::ostream &out, const PayloadReport &r)
{
    const InstallerSettingsRecord &s = r.Settings;
    const unsigned char *b = r.Header.Lengths;
    out << r.File << ": " << r.FileLength << " bytes, " << r.Architecture
        << " stub, payload at " << Hex(r.Section.RawPointer) << " (.KEST raw size "
        << r.Section.RawSize << ")\n";
    out << "  TotalFileSize        " << s.TotalFileSize
        << (s.TotalFileSize == 0 ? " (not checked)"
            : s.TotalFileSize == r.FileLength ? " (matches)" : " (DIFFERS)") << "\n";
    out << "  RuntimeVersion       " << Version(s.RuntimeVersionMS, s.RuntimeVersionLS) << "\n";
    for (const Field &f : SettingsFields(r))
        out << "  " << f.Name << std::string(21 - std::strlen(f.Name), ' ') << f.Text << "\n";
    out << "  Password             "
        << (s.PasswordLength <= 1 ? "none"
            : r.PasswordChecked   ? "yes (the given password matches)"
                                  : "yes") << "\n";
    for (int k = 0; k <= LengthInternet - LengthCmdLine; ++k) {
        std::string name = TextNames[k];
        out << "  " << name << std::string(21 - name.size(), ' ')
            << (b[LengthCmdLine + k] ? Quoted(r.Texts[k]) : "(built-in)") << "\n";
    }
    if (b[LengthExternalPackagePath] > 1)
        out << "  ExternalPackagePath  " << Quoted(r.ExternalPackagePath) << "\n";
    const unsigned *sizes[] = {&s.DownloadSize9X, &s.DownloadSizeNT, &s.DownloadSizeDotNet,
                               &s.DownloadSizeDotNetUpdate};
    for (int e = 0; e < RuntimeEntryCount; ++e)
        if (b[RuntimeUrlLength(RuntimeEntry(e))] > 1) {
            std::string name = UrlNames[e];
            out << "  " << name << std::string(21 - name.size(), ' ') << Quoted(r.Urls[e])
                << ", " << *sizes[e] << " bytes\n";
            // Under the name of the pack INI's key.
            name += "SHA256";
            out << "  " << name << std::string(name.size() < 21 ? 21 - name.size() : 1, ' ')
                << (r.Pins[e].empty() ? "none: anyone on the way can replace the download"
                                      : r.Pins[e]) << "\n";
        }
    out << "  LanguagePrompt       " << Quoted(r.LanguagePrompt) << "\n";
    out << "  Language (default)   " << Quoted(r.FirstLanguage) << "\n";
    for (size_t k = 0; k < r.Languages.size(); ++k)
        out << "  Language" << k + 1 << std::string(13 - std::to_string(k + 1).size(), ' ')
            << Quoted(r.Languages[k]) << "\n";
    out << "Identity" << (r.IdentityNote.empty() ? "" : " (" + r.IdentityNote + ")") << ":\n";
    for (int f = 0; f < IdentityFieldCount; ++f) {
        const std::string &source = r.IdentitySource[f], &theirs = r.PackageValues[f];
        std::string line = source == "package" ? "from the package"
                         : source == "ini"     ? "from the INI"
                         : source == "unknown" ? "not known"
                                               : "";
        if (f > IdentityProductName)
            line = source.empty() ? "" : Quoted(theirs) + " in the package (not stored)";
        else if (source == "ini" && r.IdentityNote.empty())
            line += "; the package says " + Quoted(theirs);
        if (!line.empty())
            out << "  " << IdentityKeys[f] << std::string(21 - std::strlen(IdentityKeys[f]), ' ')
                << line << "\n";
    }
    out << "Streams:\n";
    if (r.Streams.empty())
        out << "  (none)\n";
    for (const StreamReport &st : r.Streams) {
        char crc[16];
        std::snprintf(crc, sizeof crc, "%08X", st.StoredCrc);
        out << "  " << st.Name << std::string(st.Name.size() < 22 ? 22 - st.Name.size() : 1, ' ')
            << "at " << Hex(st.Offset) << ", " << st.Size << " bytes"
            << (st.Scrambled ? ", scrambled" : "") << ", CRC " << crc << ": "
            << StatusName(st.State) << "\n";
    }
    for (const std::string &p : r.Problems)
        out << "CORRUPT: " << p << "\n";
}

void PrintReportJson(std::ostream &out, const PayloadReport &r)
{
    const InstallerSettingsRecord &s = r.Settings;
    const unsigned char *b = r.Header.Lengths;
    out << "{\n";
    out << "  \"file\": " << Json(r.File) << ",\n";
    out << "  \"fileLength\": " << r.FileLength << ",\n";
    out << "  \"architecture\": " << Json(r.Architecture) << ",\n";
    out << "  \"payloadOffset\": " << r.Section.RawPointer << ",\n";
    out << "  \"sectionRawSize\": " << r.Section.RawSize << ",\n";
    out << "  \"totalFileSize\": " << s.TotalFileSize << ",\n";
    out << "  \"runtimeVersionMS\": " << s.RuntimeVersionMS << ",\n";
    out << "  \"runtimeVersionLS\": " << s.RuntimeVersionLS << ",\n";
    for (const Field &f : SettingsFields(r))
        out << "  " << JsonKey(f.Name) << ": " << f.Json << ",\n";
    out << "  \"passwordLength\": " << unsigned(s.PasswordLength) << ",\n";
    out << "  \"passwordChecked\": " << (r.PasswordChecked ? "true" : "false") << ",\n";
    out << "  \"lengths\": [";
    for (int i = 0; i < HeaderLengthCount; ++i)
        out << (i ? ", " : "") << unsigned(b[i]);
    out << "],\n";
    out << "  \"textRegionOffset\": " << r.Header.TextRegionOffset << ",\n";
    out << "  \"externalPackagePathOffset\": " << r.Header.ExternalPackagePathOffset << ",\n";
    out << "  \"texts\": {";
    for (int k = 0; k <= LengthInternet - LengthCmdLine; ++k)
        out << (k ? ", " : "") << Json(TextNames[k]) << ": " << Json(r.Texts[k]);
    out << "},\n";
    out << "  \"externalPackagePath\": " << Json(r.ExternalPackagePath) << ",\n";
    const unsigned sizes[] = {s.DownloadSize9X, s.DownloadSizeNT, s.DownloadSizeDotNet,
                              s.DownloadSizeDotNetUpdate};
    out << "  \"runtimes\": {";
    for (int e = 0; e < RuntimeEntryCount; ++e)
        out << (e ? ", " : "") << Json(UrlNames[e]) << ": {\"url\": " << Json(r.Urls[e])
            << ", \"urlOffset\": " << r.Header.RuntimeUrlOffset[e]
            << ", \"downloadSize\": " << sizes[e]
            << ", \"sha256\": " << (r.Pins[e].empty() ? "null" : Json(r.Pins[e])) << "}";
    out << "},\n";
    out << "  \"languagePrompt\": " << Json(r.LanguagePrompt) << ",\n";
    out << "  \"firstLanguage\": " << Json(r.FirstLanguage) << ",\n";
    out << "  \"languages\": [";
    for (size_t k = 0; k < r.Languages.size(); ++k)
        out << (k ? ", " : "") << Json(r.Languages[k]);
    out << "],\n";
    out << "  \"identity\": {";
    for (int f = 0; f < IdentityFieldCount; ++f)
        out << JsonKey(IdentityKeys[f]) << ": {\"source\": " << Json(r.IdentitySource[f])
            << ", \"package\": " << Json(r.PackageValues[f]) << "}, ";
    out << "\"note\": " << Json(r.IdentityNote) << "},\n";
    out << "  \"streamsOffset\": " << r.StreamsOffset << ",\n";
    out << "  \"streams\": [";
    for (size_t i = 0; i < r.Streams.size(); ++i) {
        const StreamReport &st = r.Streams[i];
        out << (i ? "," : "") << "\n    {\"name\": " << Json(st.Name)
            << ", \"fileName\": " << Json(st.FileName) << ", \"offset\": " << st.Offset
            << ", \"size\": " << st.Size << ", \"scrambled\": " << (st.Scrambled ? "true" : "false")
            << ", \"crc\": " << st.StoredCrc << ", \"status\": " << Json(StatusKey(st.State))
            << "}";
    }
    out << (r.Streams.empty() ? "" : "\n  ") << "],\n";
    out << "  \"problems\": [";
    for (size_t i = 0; i < r.Problems.size(); ++i)
        out << (i ? ", " : "") << Json(r.Problems[i]);
    out << "]\n}\n";
}
