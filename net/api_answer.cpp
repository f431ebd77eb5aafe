#include "net/api_answer.h"

#include <cctype>
#include <climits>
#include <memory>

#include "base/text.h"
#include "platform/codepage.h"

namespace {

// jsoncpp's conversions throw on values they cannot represent, so every read checks the
// type first; the catch-all only guards against a reader failure we did not foresee.
bool IsIntegral(const Json::Value& v) {
    return v.isIntegral(); // integers, and doubles without a fraction
}

} // namespace

AnswerParse ParseApiAnswer(const std::string& body, ApiAnswer& out) {
    out.status = 0;
    out.message[0] = 0;
    out.attachment = Json::Value();
    if (body.empty())
        return AnswerParse::NotJson;
    try {
        Json::CharReaderBuilder builder;
        builder["collectComments"] = false;
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        Json::Value root;
        std::string errors;
        if (!reader->parse(body.data(), body.data() + body.size(), &root, &errors))
            return AnswerParse::NotJson;
        if (!root.isObject())
            return AnswerParse::NotJson;
        int status = 0;
        if (!api_json::Int(root, "status", status))
            return AnswerParse::NotJson;
        out.status = status;
        api_json::DecodeText(root, "message", out.message);
        if (root.isMember("attachment"))
            out.attachment = root["attachment"];
        return AnswerParse::Ok;
    } catch (...) {
        return AnswerParse::NotJson;
    }
}

namespace api_json {

bool Text(const Json::Value& obj, const char* key, std::string& out) {
    if (!obj.isObject() || !obj.isMember(key))
        return false;
    const Json::Value& v = obj[key];
    if (!v.isString())
        return false;
    out = v.asString();
    return true;
}

bool Int(const Json::Value& obj, const char* key, int& out) {
    if (!obj.isObject() || !obj.isMember(key))
        return false;
    const Json::Value& v = obj[key];
    if (!IsIntegral(v) || !v.isConvertibleTo(Json::intValue))
        return false;
    try {
        out = v.asInt();
        return true;
    } catch (...) {
        return false;
    }
}

bool UInt(const Json::Value& obj, const char* key, uint32_t& out) {
    if (!obj.isObject() || !obj.isMember(key))
        return false;
    const Json::Value& v = obj[key];
    if (!IsIntegral(v) || !v.isConvertibleTo(Json::uintValue))
        return false;
    try {
        out = v.asUInt();
        return true;
    } catch (...) {
        return false;
    }
}

bool UInt64(const Json::Value& obj, const char* key, uint64_t& out) {
    if (!obj.isObject() || !obj.isMember(key))
        return false;
    const Json::Value& v = obj[key];
    if (!IsIntegral(v) || !v.isUInt64())
        return false;
    try {
        out = v.asUInt64();
        return true;
    } catch (...) {
        return false;
    }
}

int AtoiText(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool neg = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        neg = text[i] == '-';
        ++i;
    }
    long long v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        v = v * 10 + (text[i] - '0');
        if (v > static_cast<long long>(INT_MAX) + 1)
            v = static_cast<long long>(INT_MAX) + 1;
    }
    if (neg)
        return static_cast<int>(-v);
    return v > INT_MAX ? INT_MAX : static_cast<int>(v);
}

int AtoiMember(const Json::Value& obj, const char* key) {
    std::string s;
    if (!Text(obj, key, s))
        return 0;
    return AtoiText(s);
}

std::u16string DecodeString(const std::string& utf8) {
    return DecodeAnswerText(std::string_view(utf8));
}

bool DecodeText(const Json::Value& obj, const char* key, char16_t* dst, std::size_t cap) {
    if (cap == 0)
        return false;
    dst[0] = 0;
    std::string s;
    if (!Text(obj, key, s))
        return false;
    std::u16string t = DecodeString(s);
    // Cut to the capacity, never inside a surrogate pair.
    std::size_t n = platform::WholeCharsCut(t, t.size() < cap - 1 ? t.size() : cap - 1);
    t.copy(dst, n);
    dst[n] = 0;
    return true;
}

} // namespace api_json
