#include "base/xml_file.h"

#include "base/log.h"
#include "platform/atomic_file.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/lasterror.h"

#include <cstring>
#include <new>
#include <string_view>

namespace {

// Larger documents are refused rather than read (kMaxXmlFileBytes): the program's files are
// far smaller, and a runaway file must not take the memory of the whole machine.
constexpr std::uint64_t kMaxDocumentBytes = kMaxXmlFileBytes;

constexpr char16_t kDeclaration[] = u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>";

void AppendUtf16Le(std::string& out, const char16_t* text, std::size_t len) {
    for (std::size_t i = 0; i < len; ++i) {
        out += static_cast<char>(text[i] & 0xFF);
        out += static_cast<char>(text[i] >> 8);
    }
}

} // namespace

bool LoadXmlBytes(const void* data, std::size_t n, XmlNode* node) {
    if (!node || (!data && n)) {
        platform::SetLastErrorCode(platform::kErrInvalidParameter);
        return false;
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::u16string text;
    if (n >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        // An odd last byte becomes a unit of its own, as in a zero-padded buffer.
        text.assign((n + 1) / 2, u'\0');
        for (std::size_t i = 0; i < n; ++i) {
            text[i / 2] |= static_cast<char16_t>(bytes[i] << ((i % 2) * 8));
        }
    } else {
        const void* zero = n ? std::memchr(bytes, 0, n) : nullptr;
        const std::size_t len = zero ? static_cast<const unsigned char*>(zero) - bytes : n;
        text = platform::FromNarrow(std::string_view(reinterpret_cast<const char*>(bytes), len));
    }
    return node->Load(text.c_str(), &DefaultParseOptions) != nullptr;
}

bool LoadFile(const char16_t* path, XmlNode* node) {
    if (!path || !node) {
        platform::SetLastErrorCode(platform::kErrInvalidParameter);
        return false;
    }
    const std::u16string filePath(path);
    platform::FileAttributes attrs;
    if (!platform::GetFileAttributesEx(filePath, attrs)) {
        return false;
    }
    if (attrs.isDirectory || static_cast<std::uint32_t>(attrs.size) == 0) {
        return false;
    }
    std::string bytes;
    try {
        if (!platform::ReadWholeFile(filePath, bytes, kMaxDocumentBytes)) {
            return false;
        }
        return LoadXmlBytes(bytes.data(), bytes.size(), node);
    } catch (const std::bad_alloc&) {
        platform::SetLastErrorCode(platform::kErrNotEnoughMemory);
        return false;
    }
}

bool LoadFile(const std::u16string& path, XmlNode& node) {
    return LoadFile(path.c_str(), &node);
}

bool SaveFile(const char16_t* text, const char16_t* path, int mode) {
    if (!text || !path) {
        platform::SetLastErrorCode(platform::kErrInvalidParameter);
        return false;
    }
    const std::size_t len = platform::U16Len(text);
    const std::size_t total = 2 + 2 * (std::size(kDeclaration) - 1) + 2 * len;
    if (total > kMaxXmlFileBytes) {
        // Written, it could never be read again; the old file stays as it is.
        LogError(u"Refused to write %s: %llu bytes are more than can be read back", path,
                 static_cast<unsigned long long>(total));
        platform::SetLastErrorCode(platform::kErrFileTooLarge);
        return false;
    }
    std::string bytes;
    bytes.reserve(total);
    bytes += "\xFF\xFE";
    AppendUtf16Le(bytes, kDeclaration, std::size(kDeclaration) - 1);
    AppendUtf16Le(bytes, text, len);
    return platform::WriteFileAtomic(path, bytes.data(), bytes.size(), mode);
}

bool SaveFile(const std::u16string& text, const std::u16string& path, int mode) {
    return SaveFile(text.c_str(), path.c_str(), mode);
}
