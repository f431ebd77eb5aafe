// The small file services the program needs. Paths are UTF-16 with "/" separators.
// Every function returns false on failure and leaves the reason in the calling thread's
// last error (platform/lasterror.h); on success the last error is left alone.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Reported when a file is larger than the caller is prepared to read.
inline constexpr int kErrFileTooLarge = 223;

struct FileAttributes {
    bool isDirectory = false;
    std::uint64_t size = 0; // 0 for a directory
};

// Whether `path` exists and what it is. Symbolic links are followed, so a link reports
// its target and a dangling link does not exist.
bool GetFileAttributesEx(const std::u16string& path, FileAttributes& out);

// Renames `from` to `to`, replacing a file already there. Across file systems the file
// is copied beside `to`, renamed into place and then the original is deleted.
bool MoveFileReplace(const std::u16string& from, const std::u16string& to);

// Copies the regular file `src` to `dst`, replacing its content. Copying a file onto
// itself fails (sharing violation) instead of destroying it.
bool CopyFileOver(const std::u16string& src, const std::u16string& dst);

// Deletes a file, a symbolic link, or a folder with everything below it. Links found
// inside the folder are removed as links; what they point to is never touched.
bool DeleteTree(const std::u16string& path);

// Makes one folder; its parent must exist. An existing path fails with kErrAlreadyExists.
bool CreateDir(const std::u16string& path);

// Reads a whole regular file into `out` (emptied first). A file of more than `maxBytes`
// bytes is not read and fails with kErrFileTooLarge.
bool ReadWholeFile(const std::u16string& path, std::string& out, std::uint64_t maxBytes);

} // namespace platform
