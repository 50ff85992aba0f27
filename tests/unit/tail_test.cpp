// The walker of the payload's tail over bytes in memory: where each item
// lies, and that no size read from the file can move a reader backwards or
// past what the stub can address.
#include "payload/tail.h"
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace {

struct Memory {
    std::vector<unsigned char> bytes;
    int reads = 0;
};

int ReadMemory(void *source, unsigned long offset, unsigned char *out, unsigned count)
{
    Memory *m = static_cast<Memory *>(source);
    ++m->reads;
    if (offset > m->bytes.size() || m->bytes.size() - offset < count)
        return 0;
    std::memcpy(out, m->bytes.data() + offset, count);
    return 1;
}

void Put16(std::vector<unsigned char> &b, unsigned v)
{
    b.push_back((unsigned char)v);
    b.push_back((unsigned char)(v >> 8));
}

void Put32(std::vector<unsigned char> &b, unsigned v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back((unsigned char)(v >> (8 * i)));
}

void PutText(std::vector<unsigned char> &b, const char *text)
{
    b.insert(b.end(), text, text + std::strlen(text) + 1);
}

// A tail at offset 100: prompt, first entry, two further entries, two
// runtime streams of 10 and 20 bytes, a package of 30, two transforms.
struct Sample {
    Memory memory;
    PayloadHeaderRecord header{};
    InstallerSettingsRecord settings{};

    Sample()
    {
        std::vector<unsigned char> &b = memory.bytes;
        b.assign(100, 0);
        PutText(b, "Pick:");
        PutText(b, "English,1033");
        header.Lengths[LengthLanguagePrompt] = 6;
        header.Lengths[LengthFirstLanguage] = 13;
        header.Lengths[LanguageCount] = 2;
        Put16(b, 13);
        PutText(b, "Deutsch,1031");
        Put16(b, 12);
        PutText(b, "Magyar,1038");
        settings.StreamSize9X = 10;
        settings.StreamSizeNT = 20;
        settings.StreamSizeMSI = 30;
        b.resize(b.size() + 60, 0xAA);
        Put32(b, 5);
        b.resize(b.size() + 5, 0xBB);
        Put32(b, 7);
        b.resize(b.size() + 7, 0xCC);
    }
    int Walk(PayloadTailRecord *tail, int dotNet = 0)
    {
        return WalkPayloadTail(100, PayloadOffsetLimit, &header, &settings, dotNet, ReadMemory,
                               &memory, tail);
    }
};

} // namespace

TEST(PayloadTail, PlacesEveryItemInFileOrder)
{
    Sample s;
    PayloadTailRecord t;
    ASSERT_TRUE(s.Walk(&t));
    EXPECT_EQ(t.LanguagePrompt, 100u);
    EXPECT_EQ(t.FirstLanguage, 106u);
    EXPECT_EQ(t.FurtherLanguages, 119u);
    EXPECT_EQ(t.LanguageCount, 2u);
    EXPECT_EQ(t.Runtime[0], 119u + 2 + 13 + 2 + 12);
    EXPECT_EQ(t.RuntimeSize[0], 10u);
    EXPECT_EQ(t.Runtime[1], t.Runtime[0] + 10);
    EXPECT_EQ(t.RuntimeSize[1], 20u);
    EXPECT_EQ(t.Package, t.Runtime[1] + 20);
    EXPECT_EQ(t.PackageSize, 30u);
    EXPECT_EQ(t.Transforms, t.Package + 30);

    unsigned long offset;
    unsigned length;
    ASSERT_TRUE(FindLanguageEntry(&t, 2, ReadMemory, &s.memory, &offset, &length));
    EXPECT_EQ(length, 12u);
    EXPECT_STREQ(reinterpret_cast<const char *>(&s.memory.bytes[offset]), "Magyar,1038");
    EXPECT_FALSE(FindLanguageEntry(&t, 0, ReadMemory, &s.memory, &offset, &length));
    EXPECT_FALSE(FindLanguageEntry(&t, 3, ReadMemory, &s.memory, &offset, &length));

    ASSERT_TRUE(FindTransform(&t, 2, ReadMemory, &s.memory, &offset, &length));
    EXPECT_EQ(offset, t.Transforms + 4 + 5 + 4);
    EXPECT_EQ(length, 7u);
    EXPECT_EQ(s.memory.bytes[offset], 0xCC);
    // A third transform's size lies past the end.
    EXPECT_FALSE(FindTransform(&t, 3, ReadMemory, &s.memory, &offset, &length));
}

TEST(PayloadTail, DotNetModeAndAnExternalPackage)
{
    Sample s;
    s.header.Lengths[LengthExternalPackagePath] = 9;
    PayloadTailRecord t;
    ASSERT_TRUE(s.Walk(&t, 1));
    // The NT slot holds the .NET runtime, which comes first.
    EXPECT_EQ(t.RuntimeSize[0], 20u);
    EXPECT_EQ(t.RuntimeSize[1], 10u);
    // An external package is not carried: the transforms follow the runtimes.
    EXPECT_EQ(t.PackageSize, 0u);
    EXPECT_EQ(t.Transforms, t.Runtime[1] + 10);
}

TEST(PayloadTail, HostileSizesNeverWrapOrPassTheLimit)
{
    PayloadTailRecord t;
    {
        // Sizes whose sum wraps a 32-bit offset back into the file.
        Sample s;
        s.settings.StreamSize9X = int(0xFFFFFF00u);
        EXPECT_FALSE(s.Walk(&t));
        s.settings.StreamSize9X = -1;
        EXPECT_FALSE(s.Walk(&t));
    }
    {
        Sample s;
        s.settings.StreamSizeMSI = 0x7FFFFFFFu;
        EXPECT_FALSE(s.Walk(&t));
        // The package starts at 178: this size ends exactly at the limit.
        s.settings.StreamSizeMSI = 0x7FFFFFFFu - 178;
        EXPECT_TRUE(s.Walk(&t));
        EXPECT_EQ(t.Package, 178u);
        s.settings.StreamSizeMSI = 0x7FFFFFFFu - 177;
        EXPECT_FALSE(s.Walk(&t));
    }
    {
        // A language entry whose length field lies past the end.
        Sample s;
        s.header.Lengths[LanguageCount] = 5;
        EXPECT_FALSE(s.Walk(&t));
    }
    {
        // A transform size that would carry the next one past 2 GiB.
        Sample s;
        ASSERT_TRUE(s.Walk(&t));
        unsigned long at = t.Transforms;
        s.memory.bytes[at] = 0xFF, s.memory.bytes[at + 1] = 0xFF;
        s.memory.bytes[at + 2] = 0xFF, s.memory.bytes[at + 3] = 0x7F;
        unsigned long offset;
        unsigned size;
        EXPECT_FALSE(FindTransform(&t, 1, ReadMemory, &s.memory, &offset, &size));
        EXPECT_FALSE(FindTransform(&t, 2, ReadMemory, &s.memory, &offset, &size));
    }
}
