// The web API's answer envelope and the member readers on arbitrary bytes: every answer
// is untrusted, and no shape of it may throw or read outside it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/api_answer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ApiAnswer a;
    if (ParseApiAnswer(std::string(reinterpret_cast<const char*>(data), size), a) !=
        AnswerParse::Ok)
        return 0;
    const Json::Value& at = a.attachment;
    int i = 0;
    uint32_t u = 0;
    std::string s;
    char16_t small[5];
    api_json::Int(at, "status", i);
    api_json::UInt(at, "byte", u);
    api_json::Text(at, "uploadip", s);
    api_json::AtoiMember(at, "fid");
    api_json::DecodeText(at, "name", small);
    if (at.isObject() && at.isMember("filelist") && at["filelist"].isArray())
        for (Json::ArrayIndex k = 0; k < at["filelist"].size() && k < 64; ++k)
            api_json::DecodeText(at["filelist"][k], "name", small);
    return 0;
}
