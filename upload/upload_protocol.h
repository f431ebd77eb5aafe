// Uploading one file: announce it (allinone), ask the upload server for its offset
// (getupload), send the rest in one raw POST (upload), confirm it (uploadover).
#pragma once

#include <cstdint>
#include <string>

#include "upload/transfer_control.h"
#include "upload/up_info.h"

class IUploadView;

// Result codes of UploadOneFile.
enum : int {
    kUploadDone = 0,      // sent and confirmed, or cancelled by the user
    kUploadInstant = 5,   // the service already holds the content; nothing sent
    kUploadPaused = 10,   // paused by the user during the transfer
    kUploadNoSpace = -20, // refused for lack of space
    kUploadAnnounceParse = -1,
    kUploadAnnounceFailed = -2,
    kUploadOffsetParse = -3,
    kUploadOffsetFailed = -4,
    kUploadTransferFailed = -5, // also: the service did not confirm the upload
    kUploadUnreadable = -6,     // the local file is gone or cannot be read; not retried
    kUploadRefused = -7,        // an answer a retry would not change; not retried
};

// Time-outs of the transfer's socket operations: connecting, and any stretch of a send
// or of waiting for the reply without progress.
inline constexpr int kTransferTimeoutMs = 30000;

// The whole exchange for one task, worked in place on `upInfo`, with what `ctx` gives it.
// Progress goes to the context's view (message 1525) up to 99 while bytes go out, and 100
// only once the service has confirmed the upload.
int UploadOneFile(UpInfo& upInfo, const transfers::TransferContext& ctx);
// The same outside the engine: the process-wide control flag, no gate.
int UploadOneFile(UpInfo& upInfo, IUploadView* view = nullptr);

// The transfer: POSTs the bytes of `localPath` from `start` to its end to `path` on the
// task's upload server. The reply is "0" for every local failure and for a transfer
// stopped by the user, else the first bytes the server sent back.
std::string PostFileData(const char* path, const UpInfo& upInfo, const char* localPath,
                         uint64_t start, const transfers::TransferContext& ctx);
std::string PostFileData(const char* path, const UpInfo& upInfo, const char* localPath,
                         uint64_t start, IUploadView* view = nullptr);

// Body bytes sent by every transfer of this process (for tests and benchmarks).
uint64_t UploadBodyBytesSent();

// Sets the time-out above for tests (0 restores it).
void SetTransferTimeoutForTesting(int ms);
