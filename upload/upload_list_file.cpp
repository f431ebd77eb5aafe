#include "upload/upload_list_file.h"

#include <cstring>
#include <ctime>
#include <cwctype>
#include <mutex>
#include <utility>

#include "app/global_var.h"
#include "base/format.h"
#include "base/log.h"
#include "base/xml.h"
#include "platform/files.h"
#include "platform/lasterror.h"

namespace {

// Serialises the three operations; when the queue lock is also needed it is taken first.
std::mutex g_listFileLock;

const char16_t kNewListText[] = u"\t\t\t\t\t\t<QumoUploadList>\t\t\t\t\t\t</QumoUploadList>";

bool IsSpace16(char16_t c) {
    return std::iswspace(static_cast<wint_t>(c)) != 0;
}

char16_t Fold(char16_t c) {
    if (c >= u'A' && c <= u'Z')
        return static_cast<char16_t>(c + 32);
    if (c < 0x80 || (c >= 0xD800 && c <= 0xDFFF))
        return c;
    return static_cast<char16_t>(std::towlower(static_cast<wint_t>(c)));
}

bool EqualNoCase(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Fold(a[i]) != Fold(b[i]))
            return false;
    return true;
}

std::u16string Attr(const XmlNode* node, const char16_t* name) {
    const XmlAttribute* a = node->FindAttr(name);
    return a != nullptr ? a->value : std::u16string();
}

bool FileExists(const std::u16string& path) {
    platform::FileAttributes fa;
    return !path.empty() && platform::GetFileAttributesEx(path, fa) && !fa.isDirectory;
}

// The name of the last list file set aside, until the window has told the user.
std::u16string g_setAside;

bool ReadList(const std::u16string& path, XmlNode& root) {
    if (LoadFile(path.c_str(), &root))
        return true;
    LogError(u"Failed to call xml.Read, errorcode is %d", platform::GetLastErrorCode());
    return false;
}

// Whether the existing file at `path` holds bytes that are no list: too large to read,
// empty, or not a document. A file that only cannot be opened now is not.
bool HoldsNoList(const std::u16string& path) {
    platform::FileAttributes fa;
    if (!platform::GetFileAttributesEx(path, fa) || fa.isDirectory)
        return false;
    if (fa.size == 0 || fa.size > kMaxXmlFileBytes)
        return true;
    std::string bytes;
    if (!platform::ReadWholeFile(path, bytes, kMaxXmlFileBytes))
        return false;
    XmlNode root;
    return !LoadXmlBytes(bytes.data(), bytes.size(), &root);
}

std::u16string AsideName(const std::u16string& path) {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
    std::u16string name =
        path + u".unreadable-" + std::u16string(stamp, stamp + std::strlen(stamp));
    platform::FileAttributes fa;
    for (int n = 2; platform::GetFileAttributesEx(name, fa) && n < 100; ++n)
        name = path + u".unreadable-" + std::u16string(stamp, stamp + std::strlen(stamp)) +
               FormatText(u"-%d", n);
    return name;
}

// A list file that cannot be read is never overwritten: it is renamed beside itself so a
// fresh list can start and nothing in it is lost. True when it was set aside.
bool SetAsideUnreadable(const std::u16string& path) {
    if (!HoldsNoList(path))
        return false;
    const std::u16string aside = AsideName(path);
    if (!platform::MoveFileReplace(path, aside)) {
        LogError(u"The unreadable upload list %s could not be set aside", path.c_str());
        return false;
    }
    LogError(u"The unreadable upload list was set aside as %s", aside.c_str());
    g_setAside = aside;
    return true;
}

bool WriteList(const std::u16string& path, const XmlNode& root) {
    // A failed save is logged by the file layer.
    return SaveFile(WriteXml(root, DefaultWriteOptions).c_str(), path.c_str());
}

// The logged-in user's group among the top element's children. Sets `error` when a
// child cannot be got (the caller logs its own line).
XmlNode* FindUserGroup(const XmlNode& root, bool& error) {
    error = false;
    const std::u16string uid = Trim16(CGlobalVar::m_strUid);
    for (std::size_t i = 0; i < root.ChildCount(); ++i) {
        XmlNode* child = root.GetChild(i);
        if (child == nullptr) {
            error = true;
            return nullptr;
        }
        if (SameListKey(Attr(child, u"UserName"), uid))
            return child;
    }
    return nullptr;
}

XmlNode* FindTask(const XmlNode& group, const std::u16string& path, bool& error) {
    error = false;
    for (std::size_t i = 0; i < group.ChildCount(); ++i) {
        XmlNode* child = group.GetChild(i);
        if (child == nullptr) {
            error = true;
            return nullptr;
        }
        if (SameListKey(Attr(child, u"FileAllPath"), path))
            return child;
    }
    return nullptr;
}

void Append(XmlNode* node, const char16_t* name, const std::u16string& value) {
    node->AppendAttr(CreateAttr(name, value.c_str()));
}

// Replaces an attribute's value when the element has it and the value differs other
// than in letter case; a missing attribute stays missing.
void Replace(XmlNode* node, const char16_t* name, const std::u16string& value) {
    XmlAttribute* a = node->FindAttr(name);
    if (a != nullptr && !EqualNoCase(a->value, value))
        a->value = value;
}

} // namespace

std::u16string Trim16(const std::u16string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && IsSpace16(s[b]))
        ++b;
    while (e > b && IsSpace16(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

bool SetAsideUnreadableUploadList() {
    std::lock_guard<std::mutex> guard(g_listFileLock);
    return SetAsideUnreadable(CGlobalVar::m_strUploadListPath);
}

std::u16string TakeSetAsideUploadList() {
    std::lock_guard<std::mutex> guard(g_listFileLock);
    return std::exchange(g_setAside, std::u16string());
}

bool SameListKey(const std::u16string& a, const std::u16string& b) {
    return EqualNoCase(Trim16(a), Trim16(b));
}

bool AddUploadTaskList(UpInfo record) {
    return AddUploadTaskLists({record});
}

bool AddUploadTaskLists(const std::vector<UpInfo>& records) {
    std::lock_guard<std::mutex> guard(g_listFileLock);
    const std::u16string path = CGlobalVar::m_strUploadListPath;
    XmlNode root;
    // A file that holds no list is set aside once and a fresh one started.
    for (int round = 0;; ++round) {
        if (!FileExists(path)) {
            XmlNode fresh;
            if (fresh.Load(kNewListText, &DefaultParseOptions) == nullptr) {
                LogError(u"root node Load error.");
                return false;
            }
            WriteList(path, fresh);
        }
        if (ReadList(path, root))
            break;
        if (round > 0 || !SetAsideUnreadable(path))
            return false;
    }

    bool error = false;
    XmlNode* group = FindUserGroup(root, error);
    if (error) {
        LogError(u"AddUploadTaskList, Failed to call GetChild");
        return false;
    }
    if (group == nullptr) {
        auto user = std::make_unique<XmlNode>();
        user->Load(u"<UserInfo/>", &DefaultParseOptions);
        Append(user.get(), u"UserName", CGlobalVar::m_strUid);
        group = root.AppendChild(std::move(user));
    }
    for (const UpInfo& record : records) {
        auto task = std::make_unique<XmlNode>();
        task->Load(u"<QumoFileInfo/>", &DefaultParseOptions);
        Append(task.get(), u"FileName", record.m_strFileName);
        Append(task.get(), u"FileAllPath", record.m_strFilePath);
        Append(task.get(), u"FileExt", record.m_tcExt);
        Append(task.get(), u"FileSize",
               FormatText(u"%llu", static_cast<unsigned long long>(record.m_nFileLen)));
        Append(task.get(), u"NetDirId", FormatText(u"%d", record.m_nNetDirId));
        Append(task.get(), u"NetDirPath", record.m_strNetDirPath);
        Append(task.get(), u"UploadStatus", u"0");
        Append(task.get(), u"UploadId", u"");
        Append(task.get(), u"UploadMid", u"");
        Append(task.get(), u"UploadIp", u"");
        Append(task.get(), u"UploadPort", u"");
        group->AppendChild(std::move(task));
    }
    return WriteList(path, root);
}

namespace {

// The read-modify-write of one task's element: finds the logged-in user's group and the
// first element with `fullPath`, lets `change` work on it (null when there is none) and
// writes the file when `change` says so. `op` names the operation in the log.
template <class Change>
bool ChangeTask(const char16_t* op, const std::u16string& fullPath, Change change) {
    std::lock_guard<std::mutex> guard(g_listFileLock);
    const std::u16string path = CGlobalVar::m_strUploadListPath;
    if (!FileExists(path))
        return false;
    XmlNode root;
    if (!ReadList(path, root)) {
        SetAsideUnreadable(path);
        return false;
    }
    bool error = false;
    XmlNode* group = FindUserGroup(root, error);
    if (error) {
        LogError(u"%s, Failed to call GetChild", op);
        return false;
    }
    if (group == nullptr)
        return false;
    XmlNode* task = FindTask(*group, fullPath, error);
    if (error) {
        LogError(u"%s, Failed to call GetChild", op);
        return false;
    }
    if (change(*group, task))
        WriteList(path, root);
    return true;
}

void SetUploadValues(XmlNode* task, const std::u16string& status, const std::u16string& id,
                     const std::u16string& mid, const std::u16string& ip,
                     const std::u16string& port) {
    Replace(task, u"UploadStatus", status);
    Replace(task, u"UploadId", id);
    Replace(task, u"UploadMid", mid);
    Replace(task, u"UploadIp", ip);
    Replace(task, u"UploadPort", port);
}

} // namespace

bool UpdateUploadTaskList(UpInfo record) {
    return ChangeTask(u"UpdateUploadTaskList", record.m_strFilePath, [&](XmlNode&, XmlNode* task) {
        if (task == nullptr)
            return false;
        SetUploadValues(task, u"1", record.m_tsUpID, record.m_tcVid, record.m_tcUploadIp,
                        FormatText(u"%d", record.m_nUploadPort));
        return true;
    });
}

bool ResetUploadTaskList(const std::u16string& fullPath) {
    return ChangeTask(u"ResetUploadTaskList", fullPath, [&](XmlNode&, XmlNode* task) {
        if (task == nullptr)
            return false;
        SetUploadValues(task, u"0", u"", u"", u"", u"");
        return true;
    });
}

bool DeleteUploadTaskList(const std::u16string& fullPath) {
    return ChangeTask(u"DeleteUploadTaskList", fullPath, [&](XmlNode& group, XmlNode* task) {
        return task != nullptr && group.RemoveChild(task);
    });
}
