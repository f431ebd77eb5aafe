// Media files are recognised by their extension alone.
#pragma once

#include <string>
#include <string_view>

// The text after the last "." anywhere in the path, lowercased (ASCII); a path without
// "." is its own extension, which matches no media type.
std::u16string PathExtension(std::u16string_view path);

// 1 when the extension is one of the picture or video extensions, else 0.
int IsMediaFile(std::u16string_view path);
// 1 when the extension is one of the picture extensions (jpg jpeg bmp png gif), else 0.
int IsImageFile(std::u16string_view path);
