// The upload list file held in memory: the document as the file has it (after the journal),
// each user's tasks held compactly with an index by path, and the journal of the changes
// not yet written to the file. Reading the file again happens only when it changed behind the
// program's back (another path, another writer); a change costs a lookup and an appended record
// while the upload worker runs, and a whole write of the file otherwise.
//
// Not thread-safe: upload_list_file.cpp holds its lock around every use.
#pragma once

#include <string>
#include <unordered_map>

#include "base/xml.h"
#include "upload/list_task_store.h"
#include "upload/upload_list_journal.h"

class ListCache : private XmlChildSource {
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
    // The children of `group`, which the tree no longer holds.
    ListTaskStore& Tasks(XmlNode* group);

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
    bool HasChildren(const XmlNode& element) const override;
    void WriteChildren(const XmlNode& element, const XmlWriteOptions& options, int depth,
                       std::u16string& out) const override;

    std::u16string m_path;
    bool m_loaded = false;
    XmlNode m_root;
    listjournal::FileStamp m_stamp;
    listjournal::Journal m_journal;
    // Changes replayed at the start that could not be written into the list file yet: the
    // next journal starts with them, so it never drops them.
    std::vector<listjournal::Record> m_carried;
    // Every child of every group, by group.
    std::unordered_map<const XmlNode*, ListTaskStore> m_tasks;
};

// The journal's file beside the list file.
std::u16string ListJournalPath(const std::u16string& listPath);
// `s` with every letter in lower case, as the list file compares texts.
std::u16string FoldListText(const std::u16string& s);
// `path` trimmed and case-folded: equal keys are paths the list file takes as the same.
std::u16string ListPathKey(const std::u16string& path);
