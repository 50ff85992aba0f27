#include "pack/ini.h"
#include "pack/error.h"
#include "pack/files.h"
#include <sstream>

namespace {

// Far more than the profile functions of Windows 9x read (64 KB).
const uint64_t IniSizeLimit = 1u << 20;

std::string Trim(const std::string &s)
{
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return "";
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
}

} // namespace

bool SameName(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

IniFile::IniFile(const std::filesystem::path &path) : path_(path)
{
    std::vector<unsigned char> bytes = ReadWholeFile(path, IniSizeLimit);
    Parse(std::string(bytes.begin(), bytes.end()));
}

IniFile::IniFile(const std::filesystem::path &path, const std::string &text) : path_(path)
{
    Parse(text);
}

void IniFile::Parse(const std::string &text)
{
    // The profile functions of Windows 8 and later skip a byte order mark;
    // older ones, which the stub also runs on, read it as part of the first
    // line and so miss the first section. It also says the texts are UTF-8,
    // which the stub would show as ANSI.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        throw PackError(path_.string() + ": begins with a UTF-8 byte order mark, which Windows "
                                         "before 8 reads as part of the first line; save it "
                                         "as ANSI text (in the installer's code page) without "
                                         "one");
    std::istringstream lines(text);
    std::string raw;
    int number = 0;
    IniSection *current = nullptr;
    while (std::getline(lines, raw)) {
        ++number;
        std::string line = Trim(raw);
        if (line.empty() || line[0] == ';')
            continue;
        if (line[0] == '[') {
            size_t close = line.find(']');
            std::string name = Trim(line.substr(1, close == std::string::npos ? std::string::npos
                                                                              : close - 1));
            current = nullptr;
            if (Section(name)) {
                ignored_.push_back({name, "", number});
                continue;
            }
            sections_.push_back({name, {}});
            current = &sections_.back();
            continue;
        }
        size_t eq = line.find('=');
        if (!current || eq == std::string::npos)
            continue;
        std::string key = Trim(line.substr(0, eq));
        std::string value = Trim(line.substr(eq + 1));
        if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') &&
            value.back() == value[0])
            value = value.substr(1, value.size() - 2);
        current->Entries.push_back({key, value, number});
    }
}

const IniSection *IniFile::Section(const std::string &name) const
{
    for (const IniSection &s : sections_)
        if (SameName(s.Name, name))
            return &s;
    return nullptr;
}

const IniEntry *IniFile::Find(const std::string &section, const std::string &key) const
{
    const IniSection *s = Section(section);
    if (!s)
        return nullptr;
    for (const IniEntry &e : s->Entries)
        if (SameName(e.Key, key))
            return &e;
    return nullptr;
}
