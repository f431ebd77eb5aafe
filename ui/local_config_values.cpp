#include "ui/local_config_values.h"

#include "base/text.h"
#include "base/xml_file.h"
#include "base/xml_node.h"
#include "base/xml_write.h"
#include "platform/codepage.h"

namespace {

bool IsSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f' ||
           c == 0x3000;
}

} // namespace

std::u16string TrimText(std::u16string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsSpace(text[begin])) {
        ++begin;
    }
    while (end > begin && IsSpace(text[end - 1])) {
        --end;
    }
    return std::u16string(text.substr(begin, end - begin));
}

std::u16string ConfigValue(const XmlNode& root, const char16_t* name) {
    const XmlNode* child = root.FindChild(name);
    return child ? TrimText(child->value) : std::u16string();
}

bool SetConfigValue(XmlNode& root, const char16_t* name, std::u16string_view value) {
    // Written exactly: two Base64 texts that differ only in letter case are different
    // passwords, so a case-insensitive "unchanged" test would keep the old one.
    XmlNode* child = root.FindChild(name);
    if (!child) {
        return false;
    }
    child->value.assign(value);
    return true;
}

bool SaveLocalConfig(const XmlNode& root, const std::u16string& path) {
    const std::u16string text = WriteXml(root, DefaultWriteOptions);
    return SaveFile(text, path, 0600);
}

std::u16string EncodeRememberedPassword(std::u16string_view password) {
    const std::string encoded = Base64Encode(platform::ToNarrow(password));
    return std::u16string(encoded.begin(), encoded.end());
}

bool DecodeRememberedPassword(std::u16string_view stored, std::u16string& password) {
    password.clear();
    std::string ascii;
    ascii.reserve(stored.size());
    for (char16_t c : stored) {
        if (c > 0x7F) {
            return false;
        }
        ascii += static_cast<char>(c);
    }
    std::string bytes;
    if (!Base64Decode(ascii, bytes)) {
        return false;
    }
    password = platform::FromNarrow(bytes);
    return true;
}
