#include "pack/builder.h"
#include "pack/error.h"
#include "pack/pe.h"
#include "payload/crc32.h"
#include "payload/keystream.h"
#include "payload/tail.h"
#include <algorithm>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// The stub addresses its own file with signed 32-bit offsets.
const uint64_t LargestInstaller = 0x7FFFFFFF;
const size_t ChunkSize = 65536; // a multiple of 4, as the keystream needs
// A stub is tens of KB; the bound keeps a wrong --stub such as a device or
// a package from being read into memory whole.
const uint64_t StubSizeLimit = 16u << 20;

uint32_t StreamSize(const fs::path &file, uint64_t limit, const char *what)
{
    if (file.empty())
        return 0;
    std::error_code ec;
    uint64_t size = fs::file_size(file, ec);
    if (ec)
        throw PackError(file.string() + ": cannot read the file");
    if (size + StreamTrailerSize > limit)
        throw PackError(file.string() + ": " + std::to_string(size) + " bytes is too large for " +
                        what);
    return uint32_t(size + StreamTrailerSize);
}

// A stored string: its bytes and the NUL that its length counts. An empty
// text is stored with length 0 unless the reader needs at least the NUL.
unsigned char StoredLength(const std::string &text, bool atLeastNul = false)
{
    return (unsigned char)(text.empty() && !atLeastNul ? 0 : text.size() + 1);
}

void Put(std::vector<unsigned char> &out, unsigned at, const std::string &text, unsigned length)
{
    for (unsigned i = 0; i < length && i < text.size(); ++i)
        out[at + i] = (unsigned char)text[i];
}

class InstallerWriter {
public:
    InstallerWriter(AtomicOutput &out, const ProgressSink &progress, uint64_t total)
        : out_(out), progress_(progress), total_(total)
    {
        FillCrcTable(crcTable_);
    }

    void Emit(const unsigned char *data, size_t count)
    {
        out_.Write(data, count);
        checksum_.Add(data, count);
    }

    void Zeros(uint64_t count)
    {
        std::vector<unsigned char> zeros(size_t(std::min<uint64_t>(count, ChunkSize)));
        while (count) {
            size_t n = size_t(std::min<uint64_t>(count, zeros.size()));
            Emit(zeros.data(), n);
            count -= n;
        }
    }

    // One stream: the file's bytes, scrambled when asked to, then the
    // CRC-32 of the plain bytes.
    void Stream(const fs::path &file, uint32_t size, bool scramble)
    {
        std::ifstream in(file, std::ios::binary);
        if (!in)
            throw PackError(file.string() + ": cannot read the file");
        std::vector<unsigned char> chunk(ChunkSize);
        uint64_t remaining = size - StreamTrailerSize;
        unsigned crc = CrcRegisterReset;
        while (remaining) {
            size_t n = size_t(std::min<uint64_t>(remaining, ChunkSize));
            in.read(reinterpret_cast<char *>(chunk.data()), std::streamsize(n));
            if (size_t(in.gcount()) != n)
                throw PackError(file.string() + ": the file changed while it was read");
            crc = fold_(crc, crcTable_, chunk.data(), unsigned(n));
            if (scramble)
                xor_(chunk.data(), int(n));
            Emit(chunk.data(), n);
            remaining -= n;
            done_ += n;
            if (progress_)
                progress_(done_, total_);
        }
        unsigned char trailer[StreamTrailerSize];
        StoreLe32(trailer, ~crc);
        Emit(trailer, sizeof trailer);
    }

    uint32_t Checksum() const { return checksum_.Value(); }

private:
    AtomicOutput &out_;
    const ProgressSink &progress_;
    uint64_t total_, done_ = 0;
    unsigned crcTable_[CrcTableEntries];
    // The 128-bit routines where this processor has them.
    const CrcFoldFn fold_ = FastestCrcFold();
    const KeystreamXorFn xor_ = FastestKeystreamXor();
    PeChecksum checksum_;
};

} // namespace

StreamSizes MeasureStreams(const PackPlan &plan)
{
    StreamSizes sizes;
    int first = plan.DotNet() ? RuntimeEntryDotNet : RuntimeEntry9X;
    int second = plan.DotNet() ? RuntimeEntryDotNetUpdate : RuntimeEntryNT;
    // Both runtime sizes are signed fields.
    sizes.FirstRuntime = StreamSize(plan.Runtimes[first].File, 0x7FFFFFFF, "a runtime stream");
    sizes.SecondRuntime = StreamSize(plan.Runtimes[second].File, 0x7FFFFFFF, "a runtime stream");
    sizes.Package = StreamSize(plan.ProductFile, 0xFFFFFFFF, "the package stream");
    for (const fs::path &file : plan.LanguageFiles)
        sizes.Transforms.push_back(StreamSize(file, 0xFFFFFFFF, "a transform stream"));
    return sizes;
}

std::vector<unsigned char> EncodePayloadHeader(const PackPlan &plan, const StreamSizes &sizes,
                                               uint32_t totalFileSize)
{
    const std::string *head[HeadStringCount] = {&plan.PackageFileName, &plan.ProductCode,
                                                &plan.ProductVersion, &plan.TransformMSI};
    unsigned char headLengths[HeadStringCount];
    for (int i = 0; i < HeadStringCount; ++i)
        headLengths[i] = StoredLength(*head[i], true);

    unsigned char lengths[HeaderLengthCount] = {};
    lengths[LengthCharSet] = plan.CharSet;
    lengths[LengthCharSize] = plan.CharSize;
    lengths[LengthCaptionBlock] =
        (unsigned char)(plan.CharFont.size() + 1 + plan.ProductName.size() + 1 + 1);
    lengths[LengthPassword] = StoredLength(plan.Password);
    for (int k = LengthCmdLine; k <= LengthInternet; ++k)
        lengths[k] = StoredLength(plan.Texts[k - LengthCmdLine]);
    lengths[LengthExternalPackagePath] = StoredLength(plan.ExternalPackagePath);
    for (int entry = 0; entry < RuntimeEntryCount; ++entry)
        lengths[RuntimeUrlLength(RuntimeEntry(entry))] = StoredLength(plan.Runtimes[entry].Url);
    lengths[LengthLanguagePrompt] = StoredLength(plan.LanguagePrompt);
    lengths[LengthFirstLanguage] = StoredLength(plan.FirstLanguage);
    lengths[LanguageCount] = (unsigned char)plan.Languages.size();

    PayloadLayout layout;
    LayoutPayloadHeader(headLengths, lengths, &layout);
    size_t size = layout.FurtherLanguages;
    for (const std::string &entry : plan.Languages)
        size += 2 + entry.size() + 1;
    std::vector<unsigned char> out(size, 0);

    unsigned char *fixed = out.data();
    uint32_t sizeNT = plan.DotNet() ? 0u - sizes.FirstRuntime : sizes.SecondRuntime;
    StoreLe32(fixed + 4 * FixedStreamSizeNT, sizeNT);
    StoreLe32(fixed + 4 * FixedTotalFileSize, totalFileSize);
    StoreLe32(fixed + 4 * FixedRuntimeVersionMS, plan.RuntimeVersionMS);
    StoreLe32(fixed + 4 * FixedRuntimeVersionLS, plan.RuntimeVersionLS);
    StoreLe32(fixed + 4 * FixedStreamSize9X,
              plan.DotNet() ? sizes.SecondRuntime : sizes.FirstRuntime);
    StoreLe32(fixed + 4 * FixedStreamSizeMSI, sizes.Package);
    out[layout.DelayReboot] = plan.DelayReboot;
    unsigned at = layout.HeadStrings;
    for (int i = 0; i < HeadStringCount; ++i) {
        out[layout.HeadLengths + i] = headLengths[i];
        Put(out, at, *head[i], headLengths[i]);
        at += headLengths[i];
    }
    for (int i = 0; i < HeaderLengthCount; ++i)
        out[layout.LengthTable + i] = lengths[i];

    Put(out, layout.CaptionBlock, plan.CharFont, 255);
    Put(out, layout.CaptionBlock + unsigned(plan.CharFont.size()) + 1, plan.ProductName, 255);

    if (!plan.Password.empty()) {
        std::vector<unsigned char> password(plan.Password.begin(), plan.Password.end());
        ScramblePassword(password.data(), int(password.size()));
        std::copy(password.begin(), password.end(), out.begin() + layout.Password);
    }
    at = layout.TextRegion;
    for (int k = LengthCmdLine; k <= LengthInternet; ++k) {
        Put(out, at, plan.Texts[k - LengthCmdLine], lengths[k]);
        at += lengths[k];
    }
    Put(out, layout.ExternalPackagePath, plan.ExternalPackagePath, 255);
    for (int entry = 0; entry < RuntimeEntryCount; ++entry) {
        Put(out, layout.RuntimeUrl[entry], plan.Runtimes[entry].Url, 255);
        StoreLe32(&out[layout.DownloadSize[entry]], plan.Runtimes[entry].DownloadSize);
    }
    Put(out, layout.LanguagePrompt, plan.LanguagePrompt, 255);
    Put(out, layout.FirstLanguage, plan.FirstLanguage, 255);
    at = layout.FurtherLanguages;
    for (const std::string &entry : plan.Languages) {
        StoreLe16(&out[at], unsigned(entry.size() + 1));
        Put(out, at + 2, entry, unsigned(entry.size()));
        at += 2 + unsigned(entry.size()) + 1;
    }
    return out;
}

namespace {

int ReadBack(void *source, unsigned long offset, unsigned char *out, unsigned count)
{
    return static_cast<const AtomicOutput *>(source)->ReadAt(offset, out, count) == count;
}

// Walks what was written the way the stub will, and refuses an installer
// whose runtime streams, package or transforms the stub would look for
// anywhere but where they were put.
void CheckAgainstWalker(const AtomicOutput &out, const fs::path &output, uint64_t payload,
                        const std::vector<unsigned char> &header,
                        const std::vector<uint64_t> &placed)
{
    InstallerSettingsRecord settings{};
    PayloadHeaderRecord record{};
    int dotNet = 0;
    unsigned used =
        DecodePayloadHeader(header.data(), unsigned(header.size()), 0, &settings, &record, &dotNet);
    PayloadTailRecord tail{};
    bool same = used && WalkPayloadTail(payload + used, PayloadOffsetLimit, &record, &settings, dotNet,
                                ReadBack, const_cast<AtomicOutput *>(&out), &tail) &&
                tail.Runtime[0] == placed[0] && tail.Package == placed[1];
    for (size_t k = 2; same && k < placed.size(); ++k) {
        unsigned long offset;
        unsigned size;
        same = FindTransform(&tail, unsigned(k - 1), ReadBack, const_cast<AtomicOutput *>(&out),
                             &offset, &size) &&
               offset == placed[k];
    }
    if (!same)
        throw PackError(output.string() + ": the stub would not find the streams where they "
                                          "were written (a fault in kestpack)");
}

} // namespace

BuildSummary BuildInstaller(const PackPlan &plan, const fs::path &stubPath,
                            const fs::path &output, const ProgressSink &progress)
{
    std::vector<unsigned char> image = ReadWholeFile(stubPath, StubSizeLimit);
    StubImage stub = ReadStubImage(image, stubPath.string());
    StreamSizes sizes = MeasureStreams(plan);

    uint64_t streams = uint64_t(sizes.FirstRuntime) + sizes.SecondRuntime + sizes.Package;
    for (uint32_t t : sizes.Transforms)
        streams += 4 + uint64_t(t);
    // The header's length does not depend on the value of TotalFileSize.
    uint64_t headerSize = EncodePayloadHeader(plan, sizes, 0).size();

    BuildSummary summary;
    summary.Architecture = ArchitectureName(stub.Architecture);
    summary.PayloadOffset = AlignUp(image.size(), stub.FileAlignment);
    summary.PayloadSize = headerSize + streams;
    uint64_t rawSize = std::max<uint64_t>(AlignUp(summary.PayloadSize, stub.FileAlignment),
                                          AlignUp(EmbeddedRawSizeMinimum, stub.FileAlignment));
    summary.Length = summary.PayloadOffset + rawSize;
    if (summary.Length > LargestInstaller)
        throw PackError(output.string() + ": the installer would be " +
                        std::to_string(summary.Length) +
                        " bytes; the stub reads at most 2,147,483,647");

    std::vector<unsigned char> header =
        EncodePayloadHeader(plan, sizes, plan.SizeCheck ? uint32_t(summary.Length) : 0);
    // The keystream now stands after the password; a carried package
    // continues it, and every transform continues from after the package.
    bool scramble = !plan.Password.empty();

    unsigned char *section = image.data() + stub.Kest.HeaderOffset;
    StoreLe32(section + 16, uint32_t(rawSize));
    StoreLe32(section + 20, uint32_t(summary.PayloadOffset));
    unsigned char *initialized = image.data() + stub.InitializedDataOffset;
    StoreLe32(initialized, LoadLe32(initialized) + uint32_t(rawSize) - SettingsModeRawSize);
    StoreLe32(image.data() + stub.ChecksumOffset, 0);

    AtomicOutput out(output);
    InstallerWriter writer(out, progress, streams);
    writer.Emit(image.data(), image.size());
    writer.Zeros(summary.PayloadOffset - image.size());
    writer.Emit(header.data(), header.size());
    // Where each stream went, for the check against the stub's walker.
    std::vector<uint64_t> placed;
    placed.push_back(out.Size());
    if (sizes.FirstRuntime)
        writer.Stream(plan.Runtimes[plan.DotNet() ? RuntimeEntryDotNet : RuntimeEntry9X].File,
                      sizes.FirstRuntime, false);
    if (sizes.SecondRuntime)
        writer.Stream(
            plan.Runtimes[plan.DotNet() ? RuntimeEntryDotNetUpdate : RuntimeEntryNT].File,
            sizes.SecondRuntime, false);
    placed.push_back(out.Size());
    if (sizes.Package)
        writer.Stream(plan.ProductFile, sizes.Package, scramble);
    const int afterPackage = KeystreamState;
    for (size_t k = 0; k < plan.LanguageFiles.size(); ++k) {
        unsigned char size[4];
        StoreLe32(size, sizes.Transforms[k]);
        writer.Emit(size, sizeof size);
        placed.push_back(out.Size());
        KeystreamState = afterPackage;
        writer.Stream(plan.LanguageFiles[k], sizes.Transforms[k], scramble);
    }
    writer.Zeros(summary.Length - out.Size());
    CheckAgainstWalker(out, output, summary.PayloadOffset, header, placed);

    unsigned char checksum[4];
    StoreLe32(checksum, writer.Checksum());
    out.Patch(stub.ChecksumOffset, checksum, sizeof checksum);
    out.Commit();
    return summary;
}
