// Replacing a file's content so that a crash, a full disk or a failed write never leaves
// a half-written file: the bytes go to a temporary file in the same folder, are flushed to
// disk, and only then renamed over the target.
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>

namespace platform {

// Writes `n` bytes as the whole new content of `path`. `mode` -1 keeps the permission bits
// of the file being replaced (0644 for a new file); any other value (0600 for a file
// holding a password) is given to the new file before it becomes visible. On failure the
// old file is untouched, the temporary file is removed, the last error says why and the
// result is false. A symbolic link is written through to the file it names.
// After a successful write, temporaries of the same file that a killed process left behind
// (older than kStaleTemporarySeconds) are removed.
bool WriteFileAtomic(const std::u16string& path, const void* data, std::size_t n, int mode = -1);
inline constexpr long kStaleTemporarySeconds = 120;

// Test seam: replaces the write system call used for the temporary file (nullptr restores
// it), so tests can simulate a full disk or a short write.
using AtomicWriteHook = ssize_t (*)(int fd, const void* data, std::size_t n);
void SetAtomicWriteHook(AtomicWriteHook hook);

} // namespace platform
