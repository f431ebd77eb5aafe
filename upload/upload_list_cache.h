// The upload list file held in memory: the document as the file has it (after the journal),
// an index of each user's tasks by path, and the journal of the changes not yet written to
// the file. Reading the file again happens only when it changed behind the program's back
// (another path, another writer); a change costs a lookup and an appended record while the
// upload worker runs, and a whole write of the file otherwise.
//
// Not thread-safe: upload_list_file.cpp holds its lock around every use.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "base/xml.h"
#include "upload/upload_list_journal.h"

class ListCache {
public:
    enum class State { Ok, Missing, Unreadable };

    // Makes the cache mirror the list file at `path`: read again when the path changed or
    // the file on disk is not the one last read or written; a journal a kill left behind is
    // replayed and folded into the file first.
    State Sync(const std::u16string& path);
    // Forgets everything (the file was set aside or removed).
    void Reset();
    // Forgets everything and leaves the journal on disk unfolded, as a kill does.
    void Drop();

    XmlNode& Root() { return m_root; }
    // The first group whose UserName matches `uid` (trimmed, any case); null when none.
    XmlNode* Group(const std::u16string& uid);
    // The first task element of `group` with this path (trimmed, any case); null when none.
    XmlNode* FindTask(XmlNode* group, const std::u16string& path);
    // Keeps the index right for an element just appended to `group`.
    void Indexed(XmlNode* group, XmlNode* task);
    // Removes `task` from `group` and from the index.
    bool Remove(XmlNode* group, XmlNode* task);

    // Makes a change durable: appended to the journal when `journal` (with `record`),
    // otherwise (or when the journal grew past the size of the list) the file is written
    // whole. False when nothing could be written.
    bool Commit(bool journal, const listjournal::Record& record);
    // Writes the file whole when the journal holds changes. False when that failed.
    bool Flush();

    // The task elements of all groups held, for the memory figure of benchmarks.
    std::size_t TaskCount() const;

private:
    bool Load(const std::u16string& path);
    bool Fold();
    void Apply(const listjournal::Record& record);
    // The tasks of `group` whose path key has this hash, in document order.
    std::vector<XmlNode*>* Bucket(XmlNode* group, std::size_t hash);
    static std::size_t PathHash(const std::u16string& path);

    std::u16string m_path;
    bool m_loaded = false;
    XmlNode m_root;
    listjournal::FileStamp m_stamp;
    listjournal::Journal m_journal;
    // Per group: the tasks by the hash of their folded, trimmed path (not the path itself,
    // which would hold every path a second time), each list in document order.
    std::unordered_map<XmlNode*, std::unordered_map<std::size_t, std::vector<XmlNode*>>> m_index;
};

// The journal's file beside the list file.
std::u16string ListJournalPath(const std::u16string& listPath);
// `s` with every letter in lower case, as the list file compares texts.
std::u16string FoldListText(const std::u16string& s);
// `path` trimmed and case-folded: equal keys are paths the list file takes as the same.
std::u16string ListPathKey(const std::u16string& path);
