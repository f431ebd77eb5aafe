#include "app/global_var.h"

#include "base/log.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/lasterror.h"
#include "platform/paths.h"
#include "platform/process.h"

#include <sys/stat.h>
#include <vector>

std::u16string CGlobalVar::m_strAccount;
std::u16string CGlobalVar::m_strPassword;
std::u16string CGlobalVar::m_strUid;
std::u16string CGlobalVar::m_strToken;
std::u16string CGlobalVar::m_strNick;
std::u16string CGlobalVar::m_strHeadface;
std::string CGlobalVar::m_strUidA;
std::string CGlobalVar::m_strTokenA;
int CGlobalVar::m_nTotalSpace = 0;
int CGlobalVar::m_nUsedSpace = 0;
std::u16string CGlobalVar::m_strCurUploadPath;
std::u16string CGlobalVar::m_strNetDirPath;
std::atomic<int> CGlobalVar::m_nUploadCtrl{0};
std::u16string CGlobalVar::m_strInstallRoot;
std::u16string CGlobalVar::m_strLocalConfigPath;
std::u16string CGlobalVar::m_strUploadListPath;
std::u16string CGlobalVar::m_strSkinPath;

namespace {

// A broken tree view whose parent links loop must not hang the caller.
constexpr int kMaxTreeDepth = 4096;

} // namespace

void CGlobalVar::ClearUserState() {
    m_strAccount.clear();
    m_strPassword.clear();
    m_strUid.clear();
    m_strToken.clear();
    m_strNick.clear();
    m_strHeadface.clear();
    m_strUidA.clear();
    m_strTokenA.clear();
    m_nTotalSpace = 0;
    m_nUsedSpace = 0;
    m_strCurUploadPath.clear();
    m_strNetDirPath.clear();
    m_nUploadCtrl = 0;
}

int CGlobalVar::GetFileLength(const char16_t* path, std::int64_t* length) {
    if (!path) {
        platform::SetLastErrorCode(platform::kErrInvalidParameter);
        return platform::kErrInvalidParameter;
    }
    platform::FileAttributes attr;
    if (!platform::GetFileAttributesEx(path, attr)) {
        int err = platform::GetLastErrorCode();
        LogInfo(u"Failed to call GetFileAttributesEx file (%s), error id (0x%x)", path, err);
        return err;
    }
    if (length)
        *length = static_cast<std::int64_t>(attr.size);
    return 0;
}

bool CGlobalVar::CopyFileForce(const char16_t* source, const char16_t* destination) {
    if (!source || !destination)
        return false;
    // "Normal attributes": whatever else the file's mode says, it becomes writable.
    const std::string src = platform::ToNarrow(source);
    struct stat st {};
    if (stat(src.c_str(), &st) == 0 && S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR))
        chmod(src.c_str(), (st.st_mode & 07777) | S_IWUSR);
    return platform::CopyFileOver(source, destination);
}

bool CGlobalVar::DeletePath(const char16_t* path) {
    if (!path || !*path)
        return false;
    std::u16string p(path);
    while (p.size() > 1 && p.back() == platform::kPathSep)
        p.pop_back();
    if (p == u"/")
        return false;
    return platform::DeleteTree(p);
}

std::u16string CGlobalVar::GetTreeItemPath(const ITreeView* tree, TreeItemHandle item) {
    if (!tree || !item)
        return {};
    std::vector<std::u16string> texts;
    for (TreeItemHandle it = item; it && texts.size() < kMaxTreeDepth; it = tree->GetParentItem(it))
        texts.push_back(tree->GetItemText(it));
    std::u16string path;
    for (auto rit = texts.rbegin(); rit != texts.rend(); ++rit) {
        if (rit != texts.rbegin())
            path += platform::kPathSep;
        path += *rit;
    }
    return path;
}

bool CGlobalVar::IsAlreadyRunning() {
    // The running program is one of them; a second one means another instance.
    return platform::CountProcessesNamed(kProgramFileName) >= 2;
}
