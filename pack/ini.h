// A settings file read the way the Windows profile functions read it:
// sections in brackets, "key=value" lines, keys and section names matched
// without regard to ASCII case, the first occurrence winning, blanks around
// keys and values dropped, one pair of matching quotes around a value
// removed, and lines that begin with ';' ignored. A later section of a name
// already seen is not read at all: the profile functions stop at the first
// section of that name.
#pragma once
#include <filesystem>
#include <string>
#include <vector>

struct IniEntry {
    std::string Key;
    std::string Value;
    int Line;
};

struct IniSection {
    std::string Name;
    std::vector<IniEntry> Entries;
};

class IniFile {
public:
    // Reads path; throws PackError when it cannot be read, is larger than
    // any settings file, or begins with a UTF-8 byte order mark.
    explicit IniFile(const std::filesystem::path &path);
    // Parses text that came from path (for messages only); throws as above.
    IniFile(const std::filesystem::path &path, const std::string &text);

    const std::filesystem::path &Path() const { return path_; }
    // The section, or null when the file has none of that name.
    const IniSection *Section(const std::string &name) const;
    // The value of key in section, or null when absent.
    const IniEntry *Find(const std::string &section, const std::string &key) const;
    // The later sections of a name already seen: Key is the name as
    // written, Line where it starts. Their keys are not read.
    const std::vector<IniEntry> &IgnoredSections() const { return ignored_; }

private:
    void Parse(const std::string &text);
    std::filesystem::path path_;
    std::vector<IniSection> sections_;
    std::vector<IniEntry> ignored_;
};

// ASCII case-insensitive equality, as the profile functions compare names.
bool SameName(const std::string &a, const std::string &b);
