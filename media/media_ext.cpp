#include "media/media_ext.h"

#include <array>

namespace {

constexpr std::array<std::u16string_view, 5> kPictureExts = {u"jpg", u"jpeg", u"bmp", u"png",
                                                             u"gif"};
constexpr std::array<std::u16string_view, 14> kVideoExts = {u"flv", u"f4v", u"avi", u"ts",   u"mp4",
                                                            u"3gp", u"mpg", u"mov", u"rmvb", u"rm",
                                                            u"mkv", u"wmv", u"swf", u"vob"};

template <std::size_t N>
bool InList(const std::array<std::u16string_view, N>& list, std::u16string_view ext) {
    for (auto e : list) {
        if (e == ext)
            return true;
    }
    return false;
}

} // namespace

std::u16string PathExtension(std::u16string_view path) {
    std::size_t dot = path.rfind(u'.');
    std::u16string ext(dot == std::u16string_view::npos ? path : path.substr(dot + 1));
    for (auto& c : ext) {
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
    }
    return ext;
}

int IsMediaFile(std::u16string_view path) {
    // Without a "." the whole path stands as the extension; it must not match as one.
    if (path.find(u'.') == std::u16string_view::npos)
        return 0;
    std::u16string ext = PathExtension(path);
    return InList(kPictureExts, ext) || InList(kVideoExts, ext) ? 1 : 0;
}

int IsImageFile(std::u16string_view path) {
    if (path.find(u'.') == std::u16string_view::npos)
        return 0;
    return InList(kPictureExts, PathExtension(path)) ? 1 : 0;
}
