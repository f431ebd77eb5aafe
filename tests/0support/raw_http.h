// A tiny HTTP/1.1 client over a plain loopback socket, for tests that need exact requests:
// raw POSTs without Content-Type, bodies cut off mid-way, malformed heads.
#pragma once

#include <json/json.h>

#include <string>

struct RawResponse {
    int status = 0;       // HTTP status of the answer; 0 when none arrived
    std::string head;     // status line and headers
    std::string body;     // de-chunked when the answer was chunked
    bool chunked = false; // the answer came with Transfer-Encoding: chunked
    bool closed = false;  // the server closed the connection after the answer

    std::string Header(const std::string& name) const; // first value, case-insensitive name
};

// Sends request bytes as they are to 127.0.0.1:port and reads one answer.
bool RawExchange(int port, const std::string& request, RawResponse& out, int timeoutMs = 15000);
bool RawGet(int port, const std::string& target, RawResponse& out);
// A POST with Content-Length and no Content-Type, as the upload client sends it.
bool RawPost(int port, const std::string& target, const std::string& body, RawResponse& out);
// Announces body.size() bytes but sends only the head and the first `send` bytes, then
// closes: a client that died mid-upload.
bool RawPostPartial(int port, const std::string& target, const std::string& body, size_t send);

// Opens a POST announcing `declared` bytes and sends the head and `prefix`; the socket stays
// open (the caller closes it): an upload in the middle of its body.
int RawOpenPost(int port, const std::string& target, size_t declared, const std::string& prefix);

// Parses a JSON text; false when it is not one.
bool ParseJson(const std::string& text, Json::Value& out);
// GET on 127.0.0.1:port whose 200 body parses as JSON.
bool GetJson(int port, const std::string& target, Json::Value& out);
