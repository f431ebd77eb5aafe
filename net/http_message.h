// A request or a raw response: a header text ending with its blank line, and a body.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "net/http_body_file.h"

class HttpMessage {
public:
    // The header bytes; empty for "no header".
    std::string header;
    // Set when the body ended before the length its header announced (the server closed,
    // fell silent or the read was stopped): such a body must not be taken as complete.
    bool incomplete = false;

    std::string_view Body() const;
    std::size_t BodyLength() const { return Body().size(); }
    // Replaces the body by bytes held in memory, or by a mapped body file.
    void SetBody(std::string bytes);
    void SetBodyFile(std::unique_ptr<HttpBodyFile> file);
    const HttpBodyFile* BodyFile() const { return m_file.get(); }

    // The value of the n-th line (from 0) beginning with `name` (compared without regard
    // to letter case over the name's length; the name normally includes its colon). The
    // value follows the name after any spaces and colons and runs to the end of the line,
    // without a final carriage return.
    std::optional<std::string> GetHeaderValue(std::string_view name, int n = 0) const;
    // Inserts `line` in front of the blank line ending the header, adding CR LF when it
    // does not end with a line feed. Nothing happens for an empty header.
    void AddHeaderLine(std::string_view line);
    // Removes the first line beginning with `name`, with its line feed.
    void RemoveHeaderLine(std::string_view name);

private:
    std::string m_body;
    std::unique_ptr<HttpBodyFile> m_file;
};

// The result of a request: the status read from the response's header and both messages.
struct HttpResponse {
    int status = 0;
    std::unique_ptr<HttpMessage> request;
    std::unique_ptr<HttpMessage> response;
};

// The status code at offsets 9 to 11 of a response header; 0 when it is shorter than 12
// bytes or those are not digits.
int ParseStatus(std::string_view header);

// Letter-case-insensitive prefix test over ASCII.
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
