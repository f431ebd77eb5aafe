#include "upload/upload_list_cache.h"

#include <algorithm>
#include <cwctype>

#include "base/log.h"
#include "platform/files.h"
#include "platform/lasterror.h"
#include "platform/process.h"
#include "upload/upload_list_file.h"

namespace {

char16_t Fold(char16_t c) {
    if (c >= u'A' && c <= u'Z')
        return static_cast<char16_t>(c + 32);
    if (c < 0x80 || (c >= 0xD800 && c <= 0xDFFF))
        return c;
    return static_cast<char16_t>(std::towlower(static_cast<wint_t>(c)));
}

std::u16string Attr(const XmlNode* node, const char16_t* name) {
    const XmlAttribute* a = node->FindAttr(name);
    return a != nullptr ? a->value : std::u16string();
}

// Folding past this many journal records (or the number of tasks, if larger) keeps the
// journal's replay short and the cost of the whole writes spread thinly over the changes.
constexpr std::size_t kMinFoldRecords = 1024;
// Lists this long leave megabytes of freed buffers behind a whole read or write.
constexpr std::size_t kReleaseAfterTasks = 2000;

} // namespace

std::u16string FoldListText(const std::u16string& s) {
    std::u16string out(s);
    for (char16_t& c : out)
        c = Fold(c);
    return out;
}

std::u16string ListPathKey(const std::u16string& path) {
    return FoldListText(Trim16(path));
}

std::u16string ListJournalPath(const std::u16string& listPath) {
    return listPath + u".journal";
}

void ListCache::Reset() {
    m_loaded = false;
    m_root.Clear();
    m_tasks.clear();
    m_path.clear();
}

void ListCache::Drop() {
    m_journal.Close();
    Reset();
}

ListCache::State ListCache::Sync(const std::u16string& path) {
    platform::FileAttributes fa;
    if (path.empty() || !platform::GetFileAttributesEx(path, fa) || fa.isDirectory) {
        if (m_loaded && path == m_path && m_journal.Open())
            LogError(u"The upload list %s disappeared; its journal is dropped", path.c_str());
        if (path == m_path)
            m_journal.Discard();
        Reset();
        return State::Missing;
    }
    listjournal::FileStamp now;
    if (m_loaded && path == m_path && listjournal::StampOf(path, now) && now == m_stamp)
        return State::Ok;
    if (m_loaded && path == m_path && m_journal.Open()) {
        LogError(u"The upload list %s was replaced by another writer; its journal is dropped",
                 path.c_str());
        m_journal.Discard();
    }
    return Load(path) ? State::Ok : State::Unreadable;
}

bool ListCache::Load(const std::u16string& path) {
    Reset();
    if (!LoadFile(path.c_str(), &m_root)) {
        LogError(u"Failed to call xml.Read, errorcode is %d", platform::GetLastErrorCode());
        m_root.Clear();
        return false;
    }
    m_path = path;
    // Each group's children move to their compact stores as soon as they are read.
    for (std::size_t i = 0; i < m_root.ChildCount(); ++i)
        Tasks(m_root.GetChild(i)).Adopt(*m_root.GetChild(i));
    if (TaskCount() >= kReleaseAfterTasks)
        platform::ReleaseFreedMemory(); // the tree read was many times the size of the store
    m_loaded = listjournal::StampOf(path, m_stamp);
    if (!m_loaded)
        return false;

    // Changes the worker made before a kill: applied, then written, so the file on disk is
    // the queue again before anything else reads it.
    bool foreign = false;
    const std::vector<listjournal::Record> records =
        listjournal::Replay(ListJournalPath(path), m_stamp, &foreign);
    for (const listjournal::Record& r : records)
        Apply(r);
    if (!records.empty()) {
        LogInfo(u"Upload list: %d changes replayed from the journal",
                static_cast<int>(records.size()));
        if (!Fold()) {
            m_carried = records; // the journal on disk stays until a new one holds them
            return true;
        }
    }
    if (!records.empty() || foreign)
        listjournal::Remove(ListJournalPath(path));
    return true;
}

void ListCache::Apply(const listjournal::Record& r) {
    XmlNode* group = Group(r.uid);
    if (group == nullptr)
        return;
    ListTaskStore& tasks = Tasks(group);
    const std::size_t task = tasks.Find(r.path);
    if (task == ListTaskStore::kNone)
        return;
    switch (r.kind) {
    case listjournal::Kind::Update:
        tasks.Replace(task, kListedStatus, u"1");
        tasks.Replace(task, kListedId, r.id);
        tasks.Replace(task, kListedMid, r.mid);
        tasks.Replace(task, kListedIp, r.ip);
        tasks.Replace(task, kListedPort, r.port);
        break;
    case listjournal::Kind::Reset:
        for (std::size_t k : {kListedId, kListedMid, kListedIp, kListedPort})
            tasks.Replace(task, k, u"");
        tasks.Replace(task, kListedStatus, u"0");
        break;
    case listjournal::Kind::Delete:
        tasks.Remove(task);
        break;
    }
}

XmlNode* ListCache::Group(const std::u16string& uid) {
    const std::u16string key = ListPathKey(uid);
    for (std::size_t i = 0; i < m_root.ChildCount(); ++i) {
        XmlNode* child = m_root.GetChild(i);
        if (child != nullptr && ListPathKey(Attr(child, u"UserName")) == key)
            return child;
    }
    return nullptr;
}

ListTaskStore& ListCache::Tasks(XmlNode* group) {
    return m_tasks[group];
}

bool ListCache::HasChildren(const XmlNode& element) const {
    auto it = m_tasks.find(&element);
    return it != m_tasks.end() && it->second.Count() > 0;
}

void ListCache::WriteChildren(const XmlNode& element, const XmlWriteOptions& options, int depth,
                              std::u16string& out) const {
    auto it = m_tasks.find(&element);
    if (it != m_tasks.end())
        it->second.Write(options, depth, out);
}

bool ListCache::Commit(bool journal, const listjournal::Record& record) {
    if (journal && m_loaded) {
        if (!m_journal.Open())
            m_journal.Start(ListJournalPath(m_path), m_stamp, m_carried);
        if (m_journal.Append(record) && m_journal.Count() < std::max(kMinFoldRecords, TaskCount()))
            return true;
    }
    return Fold();
}

bool ListCache::Flush() {
    return !m_loaded || !m_journal.Open() || Fold();
}

bool ListCache::Fold() {
    for (auto& [group, tasks] : m_tasks)
        tasks.Compact();
    const bool saved = SaveFile(WriteXml(m_root, DefaultWriteOptions, *this), m_path);
    if (TaskCount() >= kReleaseAfterTasks)
        platform::ReleaseFreedMemory(); // the text of a long list is megabytes
    if (!saved)
        return false;
    listjournal::StampOf(m_path, m_stamp);
    // Only now: a kill before the write finished leaves the old file and the whole journal.
    m_journal.Discard();
    if (!m_carried.empty())
        listjournal::Remove(ListJournalPath(m_path));
    m_carried.clear();
    return true;
}

std::size_t ListCache::TaskCount() const {
    std::size_t n = 0;
    for (const auto& [group, tasks] : m_tasks)
        n += tasks.Count();
    return n;
}
