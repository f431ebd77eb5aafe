// The upload list file (QumolanUploadList.xml beside the program): one QumoFileInfo
// element per unfinished task, grouped in one UserInfo element per user id. Each
// operation is a whole read-modify-write of the file under the list-file lock.
#pragma once

#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "upload/list_task_store.h"
#include "upload/up_info.h"

// Adds the element of a new task (UploadStatus "0", empty Upload... values) to the
// logged-in user's group, creating the file and the group when they are missing.
bool AddUploadTaskList(UpInfo record);
// The same for many tasks in one read-modify-write: the file ends as if each had been
// added alone, in order.
bool AddUploadTaskLists(const std::vector<UpInfo>& records);
// The same for `count` records handed out by `at`, so a caller need not copy them.
bool AddUploadTaskLists(std::size_t count, const std::function<const UpInfo&(std::size_t)>& at);

// Records the service's upload values of a task (UploadStatus "1"). True also when the
// task has no element; false when the file is missing or unreadable or the user has no
// group.
bool UpdateUploadTaskList(UpInfo record);

// Forgets the service's upload values of a task, as a new task's element holds them
// (UploadStatus "0", the four Upload... values empty), so it is announced again. Same
// results as UpdateUploadTaskList.
bool ResetUploadTaskList(const std::u16string& fullPath);

// Removes the first element of the task with this full path. True also when there is
// none; false when the file is missing or unreadable or the user has no group.
bool DeleteUploadTaskList(const std::u16string& fullPath);

// Changes made on a thread while it holds one of these (the upload worker's) go to the
// journal beside the list file, a record each, instead of rewriting the whole file; the
// last one to end writes the file whole. The file is written whole on every other change.
class UploadListJournalScope {
public:
    UploadListJournalScope();
    ~UploadListJournalScope();
    UploadListJournalScope(const UploadListJournalScope&) = delete;
    UploadListJournalScope& operator=(const UploadListJournalScope&) = delete;
};
// Writes the list file whole when the journal holds changes (the queue went quiet). False
// when that write failed; the journal then keeps the changes.
bool FlushUploadTaskList();

// Forgets the list held in memory and closes the journal without folding it, as a kill
// would; the next operation reads the files from disk (tests of the journal).
void DropUploadListForTesting();

// The values of one task element as the file holds them, in the order of kListedNames.
struct ListedTask {
    std::u16string values[kListedCount];
};
// The logged-in user's task elements in file order. False when the file is missing or
// unreadable (an unreadable one is set aside).
bool ReadListTasks(std::vector<ListedTask>& out);
// The same one task at a time, under the list-file lock: `visit` may take the values.
bool VisitListTasks(const std::function<void(ListedTask&)>& visit);

// A list file that exists but holds no readable list (too large, empty, not a document) is
// renamed beside itself ("QumolanUploadList.xml.unreadable-<date>-<time>") and never
// overwritten; the operations above do this themselves before starting a fresh file. True
// when the file was set aside now.
bool SetAsideUnreadableUploadList();
// The name the last list file was set aside under, once; empty when none was since.
std::u16string TakeSetAsideUploadList();

// Compares two texts as the list file's matching rules do: trimmed of white space at
// both ends, without regard to letter case.
bool SameListKey(const std::u16string& a, const std::u16string& b);
// `s` without the white space at both ends.
std::u16string Trim16(const std::u16string& s);

// Reads the logged-in user's tasks back from the file, in file order, each value trimmed:
// an empty FileExt reads as the lower-cased text after the last "." of the path (the whole
// path without one), an empty FileSize as the
// file's current length, an empty NetDirId as 0; the upload values only when
// UploadStatus is "1". False (and nothing read) when the file is missing or unreadable.
bool ReadUploadTaskList(std::vector<UpInfo>& out);
