#include "base/local_config.h"

#include "base/text.h"
#include "base/xml.h"
#include "platform/codepage.h"

namespace {

std::u16string Trimmed(const std::u16string& s) {
    constexpr std::u16string_view kSpace = u" \t\r\n\v\f";
    auto b = s.find_first_not_of(kSpace);
    if (b == std::u16string::npos)
        return {};
    auto e = s.find_last_not_of(kSpace);
    return s.substr(b, e - b + 1);
}

std::u16string ChildValue(const XmlNode& root, const char16_t* name) {
    const XmlNode* child = root.FindChild(name);
    return child ? Trimmed(child->value) : std::u16string();
}

} // namespace

bool ReadLocalConfig(const std::u16string& path, LocalConfigValues& out) {
    out = LocalConfigValues{};
    XmlNode root;
    if (!LoadFile(path, root))
        return false;
    out.userName = ChildValue(root, u"UserName");
    out.userPwd = ChildValue(root, u"UserPwd");
    out.autoLogin = ChildValue(root, u"AutoLogin");
    out.version = ChildValue(root, u"Version");
    return true;
}

bool WriteLocalConfigValues(
    const std::u16string& path,
    std::initializer_list<std::pair<const char16_t*, std::u16string>> values) {
    XmlNode root;
    if (!LoadFile(path, root))
        return false;
    for (const auto& [name, value] : values) {
        if (name)
            root.SetChildValue(name, value.c_str());
    }
    // The file may hold the remembered password: readable by its owner only.
    return SaveFile(WriteXml(root, DefaultWriteOptions), path, 0600);
}

bool IsAutoLoginValue(const std::u16string& value) {
    if (value.size() != 4)
        return false;
    const char16_t* want = u"true";
    for (std::size_t i = 0; i < 4; ++i) {
        char16_t c = value[i];
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != want[i])
            return false;
    }
    return true;
}

std::u16string EncodeRememberedPassword(const std::u16string& password) {
    return platform::FromNarrow(Base64Encode(platform::ToNarrow(password)));
}

bool DecodeRememberedPassword(const std::u16string& stored, std::u16string& password) {
    password.clear();
    std::string bytes;
    if (!Base64Decode(platform::ToNarrow(stored), bytes))
        return false;
    password = platform::FromNarrow(bytes);
    return true;
}
