// The user panel's texts and the avatar file, apart from the window for their tests.
#pragma once

#include <string>

// "容量：%dG （已使用%d%s）" or "容量：%dG （尚未使用）" for the account's space in megabytes.
std::u16string UserSpaceText(int totalMb, int usedMb);

// The lower-case extension of the last path segment of an avatar address ("" without one).
std::u16string AvatarExtension(const std::u16string& address);

// Downloads the avatar below `installRoot` ("skin/blue/topuserinfo/"): a GIF address to
// "selfimage.gif", any other to "selfimage.jpg", falling back to a copy of
// "selfimage_default.jpg". Returns the file to show.
std::u16string FetchAvatarFile(const std::u16string& installRoot, const std::u16string& address);
