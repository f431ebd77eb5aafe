// A small JSON writer for the service's answers, and the answer envelope.
#pragma once

#include <cstdint>
#include <string>

namespace qumo_service {

// Appends s as a JSON string literal (UTF-8 passes through; control bytes are escaped).
void AppendJsonString(std::string& out, const std::string& s);

// Builds one JSON object member by member: Obj().Str("a", "x").Int("n", 3).Done().
class JsonObject {
public:
    JsonObject& Str(const char* key, const std::string& value);
    JsonObject& Int(const char* key, int64_t value);
    JsonObject& Raw(const char* key, const std::string& json); // value already JSON
    std::string Done() const { return body_ + "}"; }

private:
    void Key(const char* key);
    std::string body_ = "{";
};

// The envelope of every API answer: {"status":..,"debug":"..","message":"..","attachment":..}.
std::string Envelope(int status, const std::string& message, const std::string& attachmentJson);
inline std::string Ok(const std::string& attachmentJson) {
    return Envelope(200, "", attachmentJson);
}

// True when s is well-formed UTF-8 (no overlongs, no surrogates).
bool IsValidUtf8(const std::string& s);

} // namespace qumo_service
