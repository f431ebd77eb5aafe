#include "base/ini_file.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <string_view>

namespace {

// The text the writer works on; larger files are left alone.
constexpr std::size_t kIniTextMax = 16 * 1024;

// Reads the file as text: CR LF pairs become "\n". A missing file reads as empty.
// False when the file exists but cannot be read, or is too large.
bool ReadIniText(const char* path, std::string& text) {
    text.clear();
    FILE* f = std::fopen(path, "rb");
    if (!f) // a file that is there but unreadable must not be replaced by one key
        return errno == ENOENT;
    std::string raw;
    char buf[4096];
    bool ok = true;
    for (;;) {
        std::size_t n = std::fread(buf, 1, sizeof buf, f);
        raw.append(buf, n);
        if (raw.size() > 2 * kIniTextMax) {
            ok = false;
            break;
        }
        if (n < sizeof buf) {
            ok = !std::ferror(f);
            break;
        }
    }
    std::fclose(f);
    if (!ok)
        return false;
    text.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n')
            continue;
        text += raw[i];
    }
    return text.size() <= kIniTextMax;
}

bool WriteIniText(const char* path, const std::string& text) {
    std::string raw;
    raw.reserve(text.size() + text.size() / 8);
    for (char c : text) {
        if (c == '\n')
            raw += '\r';
        raw += c;
    }
    FILE* f = std::fopen(path, "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(raw.data(), 1, raw.size(), f) == raw.size();
    ok = (std::fclose(f) == 0) && ok;
    return ok;
}

bool IsSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// Where the section's body starts: the first non-space character after "[name]" that
// opens a line. npos when there is no such section.
std::size_t FindSectionBody(std::string_view text, std::string_view section) {
    for (std::size_t pos = 0; pos < text.size();) {
        if (text[pos] == '[' && text.compare(pos + 1, section.size(), section) == 0 &&
            pos + 1 + section.size() < text.size() && text[pos + 1 + section.size()] == ']') {
            std::size_t body = pos + section.size() + 2;
            while (body < text.size() && IsSpace(text[body]))
                ++body;
            return body;
        }
        std::size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos)
            break;
        pos = nl + 1;
    }
    return std::string_view::npos;
}

struct KeySpan {
    std::size_t valueBegin = std::string_view::npos;
    std::size_t lineEnd = std::string_view::npos;
};

KeySpan FindKey(std::string_view text, std::size_t body, std::string_view key) {
    for (std::size_t line = body; line < text.size();) {
        std::size_t end = text.find('\n', line);
        if (end == std::string_view::npos)
            end = text.size();
        if (text[line] == '[')
            break;
        if (text[line] != ';') {
            std::string_view l = text.substr(line, end - line);
            std::size_t eq = l.find('=');
            if (eq != std::string_view::npos && l.substr(0, eq) == key)
                return {line + eq + 1, end};
        }
        line = end + 1;
    }
    return {};
}

} // namespace

bool IniWriteValue(const char* path, const char* section, const char* key, const char* text) {
    if (!path || !section || !key || !text)
        return false;
    std::string old;
    if (!ReadIniText(path, old))
        return false;

    std::string out;
    std::size_t body = FindSectionBody(old, section);
    if (body == std::string::npos) {
        out = old;
        if (!out.empty())
            out += '\n';
        out.append("[").append(section).append("]\n");
        out.append(key).append("=").append(text).append("\n");
    } else {
        KeySpan k = FindKey(old, body, key);
        if (k.valueBegin == std::string::npos) {
            out.assign(old, 0, body);
            // A header that ends the file without a line break would otherwise get the key
            // glued onto it.
            if (body == old.size() && body > 0 && old[body - 1] != '\n')
                out += '\n';
            out.append(key).append("=").append(text).append("\n");
            out.append(old, body, std::string::npos);
        } else {
            out.assign(old, 0, k.valueBegin);
            out.append(text);
            out.append(old, k.lineEnd, std::string::npos);
        }
    }
    return WriteIniText(path, out);
}

bool CIniFile::WriteInt(const char* key, int value) const {
    return IniWriteValue(m_path.c_str(), m_section.c_str(), key, std::to_string(value).c_str());
}
