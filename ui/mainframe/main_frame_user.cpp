// The user panel: nickname, storage use and the avatar picture downloaded from the service.
#include "ui/mainframe/main_frame.h"
#include "ui/mainframe/user_panel_text.h"

#include "app/global_var.h"
#include "base/format.h"
#include "base/log.h"
#include "net/http_get.h"
#include "platform/files.h"
#include "ui/skin/du_style.h"

#include <cwctype>

namespace {

bool FileExists(const std::u16string& path) {
    platform::FileAttributes attrs;
    return platform::GetFileAttributesEx(path, attrs) && !attrs.isDirectory;
}

} // namespace

std::u16string UserSpaceText(int totalMb, int usedMb) {
    const std::int64_t total = totalMb;
    const std::int64_t percent = total > 0 ? (static_cast<std::int64_t>(usedMb) * 100) / total : 0;
    const int gigabytes = static_cast<int>(total / 1024);
    if (total > 0 && percent != 0) {
        return FormatText(u"容量：%dG （已使用%d%s）", gigabytes, static_cast<int>(percent), u"%");
    }
    return FormatText(u"容量：%dG （尚未使用）", gigabytes);
}

std::u16string AvatarExtension(const std::u16string& address) {
    const std::size_t slash = address.rfind(u'/');
    const std::u16string name = slash == std::u16string::npos ? address : address.substr(slash + 1);
    const std::size_t dot = name.rfind(u'.');
    if (dot == std::u16string::npos) {
        return {};
    }
    std::u16string ext = name.substr(dot + 1);
    for (char16_t& c : ext) {
        c = static_cast<char16_t>(std::towlower(static_cast<wint_t>(c)));
    }
    return ext;
}

std::u16string FetchAvatarFile(const std::u16string& installRoot, const std::u16string& address) {
    const std::u16string folder = installRoot + u"skin/blue/topuserinfo/";
    const std::u16string defaultFile = folder + u"selfimage_default.jpg";
    const std::u16string jpegFile = folder + u"selfimage.jpg";
    const std::u16string gifFile = folder + u"selfimage.gif";
    if (FileExists(jpegFile)) {
        CGlobalVar::DeletePath(jpegFile.c_str());
    }
    const std::u16string ext = AvatarExtension(address);
    if (ext == u"gif") {
        // An old animation must not stand in for a download that failed.
        if (FileExists(gifFile)) {
            CGlobalVar::DeletePath(gifFile.c_str());
        }
        DownLoadUrlFile(address.c_str(), gifFile.c_str());
        if (!FileExists(gifFile)) {
            LogError(u"DownLoadUrlFile %s failed.", gifFile.c_str());
        }
        if (FileExists(gifFile)) {
            return gifFile;
        }
        CGlobalVar::CopyFileForce(defaultFile.c_str(), jpegFile.c_str());
        return jpegFile;
    }
    if (!ext.empty()) {
        DownLoadUrlFile(address.c_str(), jpegFile.c_str());
        if (!FileExists(jpegFile)) {
            CGlobalVar::CopyFileForce(defaultFile.c_str(), jpegFile.c_str());
        }
        return jpegFile;
    }
    CGlobalVar::CopyFileForce(defaultFile.c_str(), jpegFile.c_str());
    return jpegFile;
}

void CMainFrame::ShowUserInfo() {
    DuWindow* window = WindowObject();
    if (!window) {
        return;
    }
    if (DuControl* name = window->Control(u"link_username")) {
        name->SetText(CGlobalVar::m_strNick);
        name->Redraw();
    }
    if (DuControl* memory = window->Control(u"link_useMemory")) {
        memory->SetText(UserSpaceText(CGlobalVar::m_nTotalSpace, CGlobalVar::m_nUsedSpace));
        memory->Redraw();
    }
    const std::u16string avatar =
        FetchAvatarFile(CGlobalVar::m_strInstallRoot, CGlobalVar::m_strHeadface);
    DuStyle* style = DuAppStyle();
    if (DuImageManager* images = style ? style->ImageResources() : nullptr) {
        images->Remove(u"btn_selfimage");
        DuImage* image = images->Create(u"btn_selfimage");
        // A download that is not a picture shows the default picture rather than nothing.
        if (!image->Load(avatar)) {
            image->Load(CGlobalVar::m_strInstallRoot +
                        u"skin/blue/topuserinfo/selfimage_default.jpg");
        }
        images->Register(image);
    }
    if (DuControl* picture = window->Control(u"btn_selfimage")) {
        picture->Redraw();
    }
}
