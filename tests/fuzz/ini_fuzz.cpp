// kestpack's reader of settings files, over any text: sections, keys and
// values as the profile functions of Windows read them.
#include "fuzz.h"
#include "pack/error.h"
#include "pack/ini.h"

namespace {

bool Trimmed(const std::string &s)
{
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    return s.empty() || (!blank(s.front()) && !blank(s.back()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // ReadWholeFile refuses more than 1 MiB before the parser sees it.
    if (size > (1u << 20))
        return 0;
    std::string text(reinterpret_cast<const char *>(data), size);
    try {
        IniFile ini("fuzz.ini", text);
        // Every bracketed name is looked up again, with its entries.
        int lines = 1;
        for (char c : text)
            lines += c == '\n';
        size_t at = 0;
        while ((at = text.find('[', at)) != std::string::npos) {
            size_t end = text.find_first_of("]\n", at);
            std::string candidate =
                text.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
            ++at;
            const IniSection *section = ini.Section(candidate);
            if (!section)
                continue;
            FUZZ_CHECK(SameName(section->Name, candidate));
            FUZZ_CHECK(section->Name.find(']') == std::string::npos);
            FUZZ_CHECK(section->Name.find('\n') == std::string::npos);
            FUZZ_CHECK(Trimmed(section->Name));
            int previous = 0;
            for (const IniEntry &e : section->Entries) {
                FUZZ_CHECK(e.Key.find('=') == std::string::npos);
                FUZZ_CHECK(e.Key.find('\n') == std::string::npos);
                FUZZ_CHECK(e.Value.find('\n') == std::string::npos);
                FUZZ_CHECK(Trimmed(e.Key));
                FUZZ_CHECK(e.Line > previous && e.Line <= lines);
                previous = e.Line;
                // The first occurrence of a key wins.
                const IniEntry *found = ini.Find(section->Name, e.Key);
                FUZZ_CHECK(found != nullptr && found->Line <= e.Line);
                FUZZ_CHECK(SameName(found->Key, e.Key));
            }
        }
        for (const IniEntry &ignored : ini.IgnoredSections()) {
            // A later section of a name already seen is never the one found.
            const IniSection *first = ini.Section(ignored.Key);
            FUZZ_CHECK(first != nullptr);
            FUZZ_CHECK(first->Entries.empty() || first->Entries.front().Line < ignored.Line);
        }
    } catch (const PackError &) {
        // Refused only for the byte order mark.
        FUZZ_CHECK(text.compare(0, 3, "\xEF\xBB\xBF") == 0);
    }
    return 0;
}
