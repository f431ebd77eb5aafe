#include "net/http_message.h"

#include <cstring>

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        unsigned char a = static_cast<unsigned char>(text[i]);
        unsigned char b = static_cast<unsigned char>(prefix[i]);
        if (a >= 'A' && a <= 'Z')
            a = static_cast<unsigned char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z')
            b = static_cast<unsigned char>(b - 'A' + 'a');
        if (a != b)
            return false;
    }
    return true;
}

int ParseStatus(std::string_view header) {
    if (header.size() < 12)
        return 0;
    int v = 0;
    for (std::size_t i = 9; i < 12 && header[i] >= '0' && header[i] <= '9'; ++i)
        v = v * 10 + (header[i] - '0');
    return v;
}

std::string_view HttpMessage::Body() const {
    if (m_file && m_file->Data())
        return {m_file->Data(), m_file->Size()};
    return m_body;
}

void HttpMessage::SetBody(std::string bytes) {
    m_file.reset();
    m_body = std::move(bytes);
}

void HttpMessage::SetBodyFile(std::unique_ptr<HttpBodyFile> file) {
    m_body.clear();
    m_file = std::move(file);
}

std::optional<std::string> HttpMessage::GetHeaderValue(std::string_view name, int n) const {
    if (name.empty() || n < 0)
        return std::nullopt;
    std::string_view h = header;
    std::size_t pos = 0;
    while (pos < h.size()) {
        std::size_t lf = h.find('\n', pos);
        if (lf == std::string_view::npos)
            break; // only lines ending with a line feed count
        std::string_view line = h.substr(pos, lf - pos);
        pos = lf + 1;
        if (!StartsWithNoCase(line, name))
            continue;
        if (n-- > 0)
            continue;
        std::size_t v = name.size();
        while (v < line.size() && (line[v] == ' ' || line[v] == ':'))
            ++v;
        std::string_view value = line.substr(v);
        if (!value.empty() && value.back() == '\r')
            value.remove_suffix(1);
        return std::string(value);
    }
    return std::nullopt;
}

// Where the blank line that ends the header starts (the header's length when it has none).
static std::size_t BlankLinePos(const std::string& h) {
    std::size_t crlf = h.find("\r\n\r\n");
    std::size_t lflf = h.find("\n\n");
    if (crlf != std::string::npos && (lflf == std::string::npos || crlf + 1 <= lflf))
        return crlf + 2;
    if (lflf != std::string::npos)
        return lflf + 1;
    return h.size();
}

void HttpMessage::AddHeaderLine(std::string_view line) {
    if (header.empty())
        return;
    std::string text(line);
    if (text.empty() || text.back() != '\n')
        text += "\r\n";
    header.insert(BlankLinePos(header), text);
}

void HttpMessage::RemoveHeaderLine(std::string_view name) {
    if (name.empty())
        return;
    std::size_t pos = 0;
    while (pos < header.size()) {
        std::size_t lf = header.find('\n', pos);
        std::size_t end = lf == std::string::npos ? header.size() : lf + 1;
        if (StartsWithNoCase(std::string_view(header).substr(pos, end - pos), name)) {
            header.erase(pos, end - pos);
            return;
        }
        pos = end;
    }
}
