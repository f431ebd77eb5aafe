#include "media/local_scan.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>

#include "app/global_var.h"
#include "base/log.h"
#include "media/media_ext.h"
#include "platform/codepage.h"
#include "platform/lasterror.h"

namespace {

enum class EntryKind { File, Dir, LinkToDir, Other };

struct DirEntry {
    std::string name; // bytes as the file system gives them
    EntryKind kind;
};

// What an entry is, following a symbolic link once to tell links to folders apart.
EntryKind KindOf(const std::string& full, unsigned char dtype) {
    struct stat st {};
    if (dtype == DT_DIR)
        return EntryKind::Dir;
    if (dtype == DT_REG)
        return EntryKind::File;
    if (dtype != DT_LNK && dtype != DT_UNKNOWN)
        return EntryKind::Other;
    if (lstat(full.c_str(), &st) != 0)
        return EntryKind::Other;
    bool link = S_ISLNK(st.st_mode);
    if (link && stat(full.c_str(), &st) != 0)
        return EntryKind::Other; // dangling link
    if (S_ISDIR(st.st_mode))
        return link ? EntryKind::LinkToDir : EntryKind::Dir;
    return S_ISREG(st.st_mode) ? EntryKind::File : EntryKind::Other;
}

// Reads a whole directory. false with the last error set when it cannot be opened or
// read to the end.
bool ReadDir(const std::string& dir, std::vector<DirEntry>& out) {
    DIR* d = opendir(dir.c_str());
    if (!d) {
        int err = errno;
        // A missing folder (or a file where a folder was expected) is "path not found".
        platform::SetLastErrorCode(err == ENOENT || err == ENOTDIR ? platform::kErrPathNotFound
                                                                   : platform::ErrorFromErrno(err));
        return false;
    }
    std::string prefix = dir;
    if (prefix.empty() || prefix.back() != '/')
        prefix += '/';
    for (;;) {
        errno = 0;
        dirent* e = readdir(d);
        if (!e)
            break;
        std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        out.push_back({name, KindOf(prefix + name, e->d_type)});
    }
    int err = errno;
    closedir(d);
    if (err != 0) {
        platform::SetLastErrorCode(platform::ErrorFromErrno(err));
        return false;
    }
    return true;
}

std::u16string JoinPath(const std::u16string& dir, const std::u16string& name) {
    if (!dir.empty() && dir.back() == u'/')
        return dir + name;
    return dir + u"/" + name;
}

} // namespace

int ListFolderMedia(const char16_t* folder, std::vector<std::u16string>& names) {
    if (!folder) {
        platform::SetLastErrorCode(platform::kErrInvalidParameter);
        return 0;
    }
    std::vector<DirEntry> entries;
    if (!ReadDir(platform::ToNarrow(folder), entries))
        return 0;
    std::vector<std::u16string> found;
    for (const auto& e : entries) {
        if (e.kind != EntryKind::File || e.name[0] == '.')
            continue;
        std::u16string name = platform::FromNarrow(e.name);
        if (IsMediaFile(name))
            found.push_back(std::move(name));
    }
    if (found.empty())
        return 0;
    names = std::move(found);
    return 1;
}

namespace {

// A media file found by the scan; the large task records are made once at the end, so
// the list never moves them while it grows.
struct FoundFile {
    std::u16string path;
    std::u16string name;
    int64_t length;
};

int CollectMedia(const char16_t* folder, std::vector<FoundFile>& found,
                 std::atomic<std::size_t>* progress) {
    if (!folder || !*folder) {
        platform::SetLastErrorCode(platform::kErrInvalidParameter);
        if (folder)
            LogError(u"[CGlobalVar]Parameter in FindDirAndFiles should not be NULL");
        return 0;
    }
    std::u16string dir = folder;
    std::vector<DirEntry> entries;
    if (!ReadDir(platform::ToNarrow(dir), entries))
        return platform::GetLastErrorCode() == platform::kErrPathNotFound ? 1 : 0;

    for (const auto& e : entries) {
        std::u16string name = platform::FromNarrow(e.name);
        std::u16string full = JoinPath(dir, name);
        if (e.kind == EntryKind::Dir) {
            if (!CollectMedia(full.c_str(), found, progress))
                LogError(u"[CGlobalVar]FindDirAndFiles error %d", platform::GetLastErrorCode());
            continue;
        }
        if (e.kind != EntryKind::File || !IsMediaFile(full))
            continue;
        int64_t len = 0;
        if (CGlobalVar::GetFileLength(full.c_str(), &len) != 0)
            len = 0;
        found.push_back({std::move(full), std::move(name), len});
        if (progress)
            progress->store(found.size(), std::memory_order_relaxed);
    }
    return 1;
}

} // namespace

UpInfo MakeUploadTask(std::u16string fullPath, std::u16string name, int64_t length, int netDirId) {
    UpInfo task;
    CopyToFixed(task.m_tcExt, PathExtension(fullPath));
    task.m_strFilePath2 = fullPath;
    task.m_strFilePath = std::move(fullPath);
    task.m_strFileName = std::move(name);
    task.m_nFileLen = length;
    task.m_nFileType = 4;
    task.m_nNetDirId = netDirId;
    task.m_strNetDirPath = CGlobalVar::m_strNetDirPath;
    return task;
}

UpInfo MakeFileUploadTask(const std::u16string& folder, const std::u16string& name, int netDirId) {
    std::u16string full = JoinPath(folder, name);
    int64_t len = 0;
    if (CGlobalVar::GetFileLength(full.c_str(), &len) != 0)
        len = 0;
    return MakeUploadTask(std::move(full), name, len, netDirId);
}

int FindDirAndFiles(const char16_t* folder, std::vector<UpInfo>& tasks, int netDirId,
                    std::atomic<std::size_t>* progress) {
    std::vector<FoundFile> found;
    int result = CollectMedia(folder, found, progress);
    tasks.reserve(tasks.size() + found.size());
    for (auto& f : found)
        tasks.push_back(MakeUploadTask(std::move(f.path), std::move(f.name), f.length, netDirId));
    return result;
}

int ClearFolderFiles(const char16_t* folder) {
    if (!folder || !*folder) {
        platform::SetLastErrorCode(platform::kErrInvalidParameter);
        return 0;
    }
    std::u16string dir = folder;
    std::vector<DirEntry> entries;
    if (!ReadDir(platform::ToNarrow(dir), entries)) {
        int err = platform::GetLastErrorCode();
        if (err == platform::kErrPathNotFound)
            return 1;
        std::u16string pattern = JoinPath(dir, u"*");
        LogError(u"[CGlobalVar]Invalid file handle, %s error is ---%u---", pattern.c_str(),
                 static_cast<unsigned>(err));
        return 0;
    }
    // Names were all read before deleting, so the listing is not changed under our feet.
    for (const auto& e : entries) {
        if (e.kind == EntryKind::Dir || e.kind == EntryKind::LinkToDir)
            continue;
        std::u16string full = JoinPath(dir, platform::FromNarrow(e.name));
        CGlobalVar::DeletePath(full.c_str());
    }
    return 1;
}
