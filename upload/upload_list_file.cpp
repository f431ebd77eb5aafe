#include "upload/upload_list_file.h"

#include <cstring>
#include <ctime>
#include <cwctype>
#include <functional>
#include <iterator>
#include <mutex>
#include <utility>

#include "app/global_var.h"
#include "base/format.h"
#include "base/log.h"
#include "base/xml.h"
#include "platform/files.h"
#include "platform/lasterror.h"
#include "upload/upload_list_cache.h"

namespace {

// Serialises the operations; when the queue lock is also needed it is taken first.
std::mutex g_listFileLock;
ListCache g_cache;
// Set on the upload worker's thread: its changes go to the journal.
thread_local int t_journalDepth = 0;

const char16_t kNewListText[] = u"\t\t\t\t\t\t<QumoUploadList>\t\t\t\t\t\t</QumoUploadList>";

bool IsSpace16(char16_t c) {
    return std::iswspace(static_cast<wint_t>(c)) != 0;
}

bool FileExists(const std::u16string& path) {
    platform::FileAttributes fa;
    return !path.empty() && platform::GetFileAttributesEx(path, fa) && !fa.isDirectory;
}

// The name of the last list file set aside, until the window has told the user.
std::u16string g_setAside;

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
    g_cache.Reset();
    return true;
}

bool WriteList(const std::u16string& path, const XmlNode& root) {
    // A failed save is logged by the file layer.
    return SaveFile(WriteXml(root, DefaultWriteOptions).c_str(), path.c_str());
}

void Append(XmlNode* node, const char16_t* name, const std::u16string& value) {
    node->AppendAttr(CreateAttr(name, value.c_str()));
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
    return ListPathKey(a) == ListPathKey(b);
}

bool AddUploadTaskList(UpInfo record) {
    return AddUploadTaskLists({record});
}

bool AddUploadTaskLists(const std::vector<UpInfo>& records) {
    return AddUploadTaskLists(records.size(),
                              [&](std::size_t i) -> const UpInfo& { return records[i]; });
}

bool AddUploadTaskLists(std::size_t count, const std::function<const UpInfo&(std::size_t)>& at) {
    std::lock_guard<std::mutex> guard(g_listFileLock);
    const std::u16string path = CGlobalVar::m_strUploadListPath;
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
        const ListCache::State state = g_cache.Sync(path);
        if (state == ListCache::State::Ok)
            break;
        if (state == ListCache::State::Missing || round > 0 || !SetAsideUnreadable(path))
            return false;
    }

    XmlNode* group = g_cache.Group(Trim16(CGlobalVar::m_strUid));
    if (group == nullptr) {
        auto user = std::make_unique<XmlNode>();
        user->Load(u"<UserInfo/>", &DefaultParseOptions);
        Append(user.get(), u"UserName", CGlobalVar::m_strUid);
        group = g_cache.Root().AppendChild(std::move(user));
    }
    ListTaskStore& tasks = g_cache.Tasks(group);
    for (std::size_t i = 0; i < count; ++i) {
        const UpInfo& record = at(i);
        std::u16string values[kListedCount];
        values[kListedName] = record.m_strFileName;
        values[kListedPath] = record.m_strFilePath;
        values[kListedExt] = record.m_tcExt;
        values[kListedSize] =
            FormatText(u"%llu", static_cast<unsigned long long>(record.m_nFileLen));
        values[kListedDirId] = FormatText(u"%d", record.m_nNetDirId);
        values[kListedDirPath] = record.m_strNetDirPath;
        values[kListedStatus] = u"0";
        tasks.Append(values);
    }
    // New tasks are written at once, whoever adds them.
    return g_cache.Commit(false, {});
}

namespace {

// Makes the cache mirror the list file at `path`, under the list-file lock; an unreadable
// file is set aside. False when there is no usable list.
bool SyncList(const std::u16string& path) {
    switch (g_cache.Sync(path)) {
    case ListCache::State::Missing:
        return false;
    case ListCache::State::Unreadable:
        SetAsideUnreadable(path);
        return false;
    case ListCache::State::Ok:
        break;
    }
    return true;
}

// One change of one task's element: finds the logged-in user's group and the first element
// with `fullPath`, lets `change` work on it (kNone when there is none) and, when it says
// so, commits `record`: to the journal on the upload worker's thread, to the file otherwise.
template <class Change> bool ChangeTask(listjournal::Record record, Change change) {
    std::lock_guard<std::mutex> guard(g_listFileLock);
    const std::u16string path = CGlobalVar::m_strUploadListPath;
    if (!SyncList(path))
        return false;
    record.uid = Trim16(CGlobalVar::m_strUid);
    XmlNode* group = g_cache.Group(record.uid);
    if (group == nullptr)
        return false;
    ListTaskStore& tasks = g_cache.Tasks(group);
    if (change(tasks, tasks.Find(record.path)))
        g_cache.Commit(t_journalDepth > 0, record);
    return true;
}

void SetUploadValues(ListTaskStore& tasks, std::size_t task, const listjournal::Record& r,
                     const std::u16string& status) {
    tasks.Replace(task, kListedStatus, status);
    tasks.Replace(task, kListedId, r.id);
    tasks.Replace(task, kListedMid, r.mid);
    tasks.Replace(task, kListedIp, r.ip);
    tasks.Replace(task, kListedPort, r.port);
}

} // namespace

bool UpdateUploadTaskList(UpInfo record) {
    listjournal::Record r{listjournal::Kind::Update,
                          {},
                          record.m_strFilePath,
                          record.m_tsUpID,
                          record.m_tcVid,
                          record.m_tcUploadIp,
                          FormatText(u"%d", record.m_nUploadPort)};
    return ChangeTask(r, [&](ListTaskStore& tasks, std::size_t task) {
        if (task == ListTaskStore::kNone)
            return false;
        SetUploadValues(tasks, task, r, u"1");
        return true;
    });
}

bool ResetUploadTaskList(const std::u16string& fullPath) {
    listjournal::Record r{listjournal::Kind::Reset, {}, fullPath, {}, {}, {}, {}};
    return ChangeTask(r, [&](ListTaskStore& tasks, std::size_t task) {
        if (task == ListTaskStore::kNone)
            return false;
        SetUploadValues(tasks, task, r, u"0");
        return true;
    });
}

bool DeleteUploadTaskList(const std::u16string& fullPath) {
    listjournal::Record r{listjournal::Kind::Delete, {}, fullPath, {}, {}, {}, {}};
    return ChangeTask(r, [&](ListTaskStore& tasks, std::size_t task) {
        return task != ListTaskStore::kNone && tasks.Remove(task);
    });
}

void DropUploadListForTesting() {
    std::lock_guard<std::mutex> guard(g_listFileLock);
    g_cache.Drop();
}

bool FlushUploadTaskList() {
    std::lock_guard<std::mutex> guard(g_listFileLock);
    return g_cache.Flush();
}

UploadListJournalScope::UploadListJournalScope() {
    ++t_journalDepth;
}

UploadListJournalScope::~UploadListJournalScope() {
    if (--t_journalDepth == 0)
        FlushUploadTaskList();
}

bool VisitListTasks(const std::function<void(ListedTask&)>& visit) {
    std::lock_guard<std::mutex> guard(g_listFileLock);
    const std::u16string path = CGlobalVar::m_strUploadListPath;
    if (!SyncList(path))
        return false;
    XmlNode* group = g_cache.Group(Trim16(CGlobalVar::m_strUid));
    if (group == nullptr)
        return true;
    const ListTaskStore& tasks = g_cache.Tasks(group);
    ListedTask t;
    for (std::size_t i = 0; i < tasks.Slots(); ++i) {
        if (!tasks.IsTask(i))
            continue;
        for (std::size_t k = 0; k < kListedCount; ++k)
            t.values[k] = tasks.Value(i, k);
        visit(t);
    }
    return true;
}

bool ReadListTasks(std::vector<ListedTask>& out) {
    out.clear();
    return VisitListTasks([&](ListedTask& t) { out.push_back(std::move(t)); });
}
