// Writing one key of an INI text file, the way the exit files hand options to the rest of
// the installation.
#pragma once

#include <string>

// Sets `key` of `section` to `text` in the INI file at `path` (narrow, UTF-8), creating the
// section and the file as needed. A key not yet in the section goes to the top of it.
// Lines end in CR LF on disk. True when the file could be written.
//
// Files whose text exceeds 16 KiB are refused (false, file untouched) rather than cut.
bool IniWriteValue(const char* path, const char* section, const char* key, const char* text);

// An INI file path and one of its sections.
class CIniFile {
public:
    CIniFile(std::string path, std::string section)
        : m_path(std::move(path)), m_section(std::move(section)) {}

    // Writes `value` in decimal.
    bool WriteInt(const char* key, int value) const;

    const std::string& Path() const { return m_path; }
    const std::string& Section() const { return m_section; }

private:
    std::string m_path;
    std::string m_section;
};
