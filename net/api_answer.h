// The envelope of every answer of the service's web API, and the careful readers of
// its members: a missing member, a null or a value of the wrong type never throws and
// never reads outside the answer; the reader reports it instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <json/json.h>

struct ApiAnswer {
    int status = 0;             // 200 success, 405 refused with a reason in `message`
    char16_t message[260] = {}; // "message", decoded; empty when absent or not text
    Json::Value attachment;     // the payload; null when absent
};

enum class AnswerParse {
    Ok,      // a JSON object with an integer "status"
    NotJson, // empty, unparsable, not an object, or "status" missing or not a number
};

AnswerParse ParseApiAnswer(const std::string& body, ApiAnswer& out);

namespace api_json {

// A member of `obj` (which may itself be of any type); false when `obj` is not an
// object or the member is missing or not of the wanted type.
bool Text(const Json::Value& obj, const char* key, std::string& out);
bool Int(const Json::Value& obj, const char* key, int& out);
bool UInt(const Json::Value& obj, const char* key, uint32_t& out);
bool UInt64(const Json::Value& obj, const char* key, uint64_t& out);

// A decimal text member read with the C library's atoi rules (leading white space,
// optional sign, digits; anything else, a missing member or a non-text value reads 0).
// Values beyond the int range saturate.
int AtoiMember(const Json::Value& obj, const char* key);
int AtoiText(const std::string& text);

// A text member decoded from UTF-8 into a fixed capacity (cut to cap - 1 units, never inside
// a surrogate pair).
// Absent or non-text members give an empty text and false.
bool DecodeText(const Json::Value& obj, const char* key, char16_t* dst, std::size_t cap);
template <std::size_t N>
bool DecodeText(const Json::Value& obj, const char* key, char16_t (&dst)[N]) {
    return DecodeText(obj, key, dst, N);
}
std::u16string DecodeString(const std::string& utf8);

} // namespace api_json
