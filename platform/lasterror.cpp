#include "platform/lasterror.h"

#include <cerrno>

namespace platform {

namespace {
thread_local int t_lastError = 0;
}

int GetLastErrorCode() { return t_lastError; }
void SetLastErrorCode(int code) { t_lastError = code; }

int ErrorFromErrno(int err) {
    switch (err) {
    case 0: return kErrSuccess;
    case ENOENT: return kErrFileNotFound;
    case ENOTDIR: return kErrPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS: return kErrAccessDenied;
    case ENOMEM: return kErrNotEnoughMemory;
    case EIO: return kErrWriteFault;
    case EBUSY:
    case ETXTBSY: return kErrSharingViolation;
    case ENOSPC:
    case EDQUOT: return kErrDiskFull;
    case EEXIST: return kErrAlreadyExists;
    case EINVAL:
    case EFAULT:
    case ENAMETOOLONG: return kErrInvalidParameter;
    default: return err;
    }
}

int SetLastErrorFromErrno() {
    t_lastError = ErrorFromErrno(errno);
    return t_lastError;
}

} // namespace platform
