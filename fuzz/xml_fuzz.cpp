// Feeds arbitrary bytes to the XML parser, both as UTF-16 text and as the bytes of a file,
// and writes every resulting tree back out.
#include "base/xml.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void CheckInside(const char16_t* pos, const std::u16string& text) {
    if (pos && (pos < text.c_str() || pos > text.c_str() + text.size())) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // As UTF-16 text: the units of the input, then the terminating zero the parser relies on.
    std::u16string text(size / 2, u'\0');
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        text[i / 2] = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    }
    XmlParseOptions options;
    XmlNode root;
    const char16_t* end = root.Load(text.c_str(), &options);
    CheckInside(end, text);
    CheckInside(options.errorPosition, text);
    if (options.errorOccurred && options.errorText.size() > 99) {
        std::abort();
    }
    std::u16string written = WriteXml(root, DefaultWriteOptions);

    // The written text parses again without trouble of its own.
    XmlNode again;
    again.Load(written.c_str(), &options);

    // A child parse sees the parent link, which changes where comments and the like go.
    XmlNode parent;
    XmlNode* child = parent.AppendChild(new XmlNode);
    CheckInside(child->Load(text.c_str(), &options), text);
    WriteXml(parent, DefaultWriteOptions);

    // As the bytes of a file: UTF-16 with a byte order mark, or narrow text.
    XmlNode fromFile;
    LoadXmlBytes(data, size, &fromFile);
    WriteXml(fromFile, DefaultWriteOptions);
    return 0;
}
