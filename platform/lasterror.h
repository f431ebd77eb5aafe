// The calling thread's last system error code, in the numbering the program logs
// (2 file not found, 5 access denied, 87 invalid parameter, ...).
#pragma once

namespace platform {

enum : int {
    kErrSuccess = 0,
    kErrFileNotFound = 2,
    kErrPathNotFound = 3,
    kErrAccessDenied = 5,
    kErrNotEnoughMemory = 8,
    kErrWriteFault = 29,
    kErrSharingViolation = 32,
    kErrHandleDiskFull = 39,
    kErrFileExists = 80,
    kErrInvalidParameter = 87,
    kErrDiskFull = 112,
    kErrAlreadyExists = 183,
};

int GetLastErrorCode();
void SetLastErrorCode(int code);
// Maps an errno value to the numbering above (unknown values pass through unchanged).
int ErrorFromErrno(int err);
// Stores ErrorFromErrno(errno) as the last error and returns it.
int SetLastErrorFromErrno();

} // namespace platform
