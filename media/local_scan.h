// File-system work on local folders: the preview listing, the recursive collection of
// upload tasks and the emptying of a thumbnail cache folder. Log lines carry the prefix
// "[CGlobalVar]" like the other program-wide file operations.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

#include "upload/up_info.h"

// Lists the media files directly inside `folder` (names only, listing order; directories,
// hidden names starting with "." and anything that is not a regular file are skipped).
// 1: `names` has been replaced by what was found; 0 (nothing found, or the folder cannot
// be listed): `names` is left as it was.
int ListFolderMedia(const char16_t* folder, std::vector<std::u16string>& names);

// Appends one new upload task per media file in `folder` and, depth first, in its
// sub-folders. Symbolically linked directories are not entered, so a link to an ancestor
// cannot loop. Null or empty folder: last error 87, returns 0. A folder that does not
// exist: last error 3, returns 1 with nothing added. Another listing failure: 0.
// `progress`, when given, counts the files found so far (for a thread that shows it).
int FindDirAndFiles(const char16_t* folder, std::vector<UpInfo>& tasks, int netDirId,
                    std::atomic<std::size_t>* progress = nullptr);

// An upload task for one local file: both paths the full path, the name, the extension
// after the last "." in lower case (cut to its capacity), the length, the server folder id
// and the chosen server folder path.
UpInfo MakeUploadTask(std::u16string fullPath, std::u16string name, int64_t length, int netDirId);
// The same for the file `name` in `folder`, its length read from the disk now (0 when it
// cannot be read).
UpInfo MakeFileUploadTask(const std::u16string& folder, const std::u16string& name, int netDirId);

// Deletes every file directly inside `folder`; sub-folders (and links to folders) stay.
// Same argument checks as FindDirAndFiles; a file that cannot be deleted stays and the
// result is still 1.
int ClearFolderFiles(const char16_t* folder);
