// UploadOneFile: the four steps of one file's upload, each retried up to three times.
#include "upload/upload_protocol.h"

#include <cstdio>
#include <cstring>

#include "app/app_settings.h"
#include "app/global_var.h"
#include "base/file_sha1.h"
#include "base/log.h"
#include "net/api_answer.h"
#include "net/api_url.h"
#include "net/hosts.h"
#include "net/http_get.h"
#include "platform/codepage.h"
#include "platform/event.h"
#include "upload/digest_cache.h"
#include "upload/transfer_control.h"
#include "upload/transfer_stats.h"
#include "upload/upload_list_file.h"
#include "upload/upload_view.h"

namespace {

std::string Dec(long long v) {
    return std::to_string(v);
}
std::string UDec(unsigned long long v) {
    return std::to_string(v);
}

struct RequestValues {
    std::string uid, token, sha1, filename, suffix, upchannel, folderid;
};

// "http://" host ":" port of the task's upload server.
std::string UploadServer(const UpInfo& t) {
    return "http://" + api_url::EscapeUtf8(t.m_tcUploadIp) + ":" + Dec(t.m_nUploadPort);
}

// Splits "host[:port]" from the announcement into the record; without a port the
// record's port stays as it was.
void SetUploadServer(UpInfo& t, const std::string& uploadip) {
    std::size_t colon = uploadip.find(':');
    CopyToFixed(t.m_tcUploadIp, api_json::DecodeString(uploadip.substr(0, colon)));
    if (colon != std::string::npos)
        t.m_nUploadPort = api_json::AtoiText(uploadip.substr(colon + 1));
}

// A status, of the HTTP answer or of the API's, that a retry would get again: a client
// error other than a time-out (408) or a request to slow down (429).
bool Lasting(int status) {
    return status >= 400 && status < 500 && status != 408 && status != 429;
}

// One call of a step: true with the API's answer in `ans`. Otherwise every answer it does
// not take is logged with the file's name, and `refused` says whether a retry would get the
// same (an HTTP or API status that lasts, a body that is not the API's JSON); no answer at
// all is a network fault. A refusing API status comes back in `ans` only with `keepStatus`
// (a step that knows some of them).
bool Call(const std::string& url, const char16_t* step, const std::u16string& name,
          const transfers::TransferContext& ctx, ApiAnswer& ans, bool& refused,
          bool keepStatus = false) {
    refused = false;
    std::string body;
    int http = 0;
    const bool ok = HttpModuleGet(url.c_str(), body, http);
    if (ctx.track)
        UploadStats().ServiceAnswered(http != 0);
    if (!ok) {
        if (http == 0) {
            LogInfo(u"file [%s] %s: no answer", name.c_str(), step);
        } else {
            refused = Lasting(http);
            LogError(u"file [%s] %s: HTTP status %d%s", name.c_str(), step, http,
                     refused ? u", refused" : u"");
        }
        return false;
    }
    if (ParseApiAnswer(body, ans) != AnswerParse::Ok) {
        refused = true;
        LogError(u"file [%s] %s: the answer (%zu bytes) is not the API's JSON, refused",
                 name.c_str(), step, body.size());
        return false;
    }
    if (ans.status != 200 && !keepStatus) {
        refused = Lasting(ans.status);
        LogError(u"file [%s] %s: status %d%s", name.c_str(), step, ans.status,
                 refused ? u", refused" : u"");
        return false;
    }
    return true;
}

// One announcement; returns 1 when the task now has an upload server, or a result code.
int Announce(UpInfo& t, const RequestValues& v, int attempt, const transfers::TransferContext& ctx,
             int& result) {
    LogInfo(u"allinone.json, upInfo.m_nFileLen = %llu, upInfo.m_nFileType = %d",
            static_cast<unsigned long long>(t.m_nFileLen), t.m_nFileType);
    std::string url =
        "http://" + hosts::Api() + "/allinone.json?uid=" + v.uid + "&token=" + v.token +
        "&sha1=" + v.sha1 + "&folderid=" + v.folderid + "&filename=" + v.filename +
        "&suffix=" + v.suffix + "&size=" + UDec(static_cast<unsigned long long>(t.m_nFileLen)) +
        "&upchannel=" + v.upchannel + "&retry=" + Dec(attempt) + "&client=pc&foldername=";
    const std::u16string& name = t.m_strFileName;
    ApiAnswer ans;
    bool refused = false;
    if (!Call(url, u"allinone.json", name, ctx, ans, refused)) {
        LogInfo(u"allinone.json error %d", attempt + 1);
        result = refused ? kUploadRefused : kUploadAnnounceFailed;
        return refused ? 2 : 0;
    }
    int s = 0;
    if (!api_json::Int(ans.attachment, "status", s)) {
        LogError(u"file [%s] allinone.json: the answer has no attachment status, refused",
                 name.c_str());
        result = kUploadRefused;
        return 2;
    }
    LogInfo(u"allinone.json status %d", s);
    if (s == 1 || s == 2) {
        result = kUploadInstant;
        return 2;
    }
    if (s == 5) {
        result = kUploadNoSpace;
        return 2;
    }
    int mid = 0, upid = 0;
    if (s != 0 || !api_json::Int(ans.attachment, "mid", mid) ||
        !api_json::Int(ans.attachment, "upid", upid)) {
        // An attachment status the client does not know, or an opened upload without its
        // ids: the same answer would come again.
        LogError(u"file [%s] allinone.json: attachment status %d%s, refused", name.c_str(), s,
                 s == 0 ? u" without mid and upid" : u"");
        result = kUploadRefused;
        return 2;
    }
    std::string uploadip;
    api_json::Text(ans.attachment, "uploadip", uploadip);
    SetUploadServer(t, uploadip);
    CopyToFixed(t.m_tcVid, platform::FromNarrow(Dec(mid)));
    CopyToFixed(t.m_tsUpID, platform::FromNarrow(Dec(upid)));
    LogInfo(u"1 file [%s] upInfo.m_tcVid is [%s]", t.m_strFileName.c_str(), t.m_tcVid.c_str());
    LogInfo(u"1 file [%s] upInfo.m_tsUpID is [%s]", t.m_strFileName.c_str(), t.m_tsUpID.c_str());
    UpdateUploadTaskList(t);
    return 1;
}

// Reads the control flag and puts it back to 0 in one step, so a command that lands in
// between is never lost.
int TakeControlFlag(const transfers::TransferContext& ctx) {
    return transfers::ControlOf(ctx).exchange(0);
}

void SetPhase(const transfers::TransferContext& ctx, transfers::Phase phase) {
    if (ctx.phase != nullptr)
        ctx.phase->store(phase);
}

enum class Confirmation { Done, Failed, Rejected, Refused };

// The confirmation, after the whole file was sent. Only an answer with status 200 finishes
// the upload. 409 means the service threw the bytes away because they are not the announced
// file, and 412 that it expects more bytes than the file has: either way the file changed
// since it was announced, so the upload is announced anew (an unchanged file gets its upload
// back from the service). An answer a retry would get again (another client error, a body
// that is not the API's JSON) fails the task; anything else is tried again later. A confirmation
// that finds the upload server still busy with the upload (status 423: it is closing the
// transfer, or still digesting a large file after an earlier confirmation timed out) is
// asked again for up to a minute; a missing answer twice more.
Confirmation Confirm(const std::string& url, const std::u16string& name,
                     const transfers::TransferContext& ctx) {
    int unanswered = 0;
    for (int busy = 0; busy < 120;) {
        ApiAnswer ans;
        bool refused = false;
        if (!Call(url, u"uploadover.json", name, ctx, ans, refused, true)) {
            if (refused)
                return Confirmation::Refused;
            LogInfo(u"file %s uploadover.json error", name.c_str());
            if (++unanswered >= 3 || !platform::CancellableSleep(200))
                return Confirmation::Failed;
            continue;
        }
        LogInfo(u"uploadover.json success");
        if (ans.status == 200)
            return Confirmation::Done;
        LogInfo(u"file %s uploadover.json status %d", name.c_str(), ans.status);
        if (ans.status == 409 || ans.status == 412)
            return Confirmation::Rejected;
        if (ans.status != 423) {
            const bool lasting = Lasting(ans.status);
            LogError(u"file [%s] uploadover.json: status %d%s", name.c_str(), ans.status,
                     lasting ? u", refused" : u"");
            return lasting ? Confirmation::Refused : Confirmation::Failed;
        }
        ++busy;
        if (!platform::CancellableSleep(busy < 5 ? 100 : 500))
            return Confirmation::Failed;
    }
    return Confirmation::Failed;
}

// Drops the upload the service no longer knows or refused, in the record and in the list
// file, so that the next attempt announces the file again with its current size and digest.
void ForgetUpload(UpInfo& t, const char16_t* why) {
    LogInfo(u"file [%s] upload %s dropped (%s); it will be announced again",
            t.m_strFileName.c_str(), t.m_tsUpID.c_str(), why);
    t.m_tcUploadIp.clear();
    t.m_tcVid.clear();
    t.m_tsUpID.clear();
    t.m_nUploadPort = 80;
    ResetUploadTaskList(t.m_strFilePath);
}

// A pause or cancel of this file at any step (digest, announcement, offset, transfer):
// true with the result it asks for, cancel ending as "done" as a cancelled transfer does.
bool Interrupted(const transfers::TransferContext& ctx, int& result) {
    int flag = TakeControlFlag(ctx);
    if (flag == 1)
        result = kUploadDone;
    else if (flag == 2)
        result = kUploadPaused;
    return flag == 1 || flag == 2;
}

// The status of the answer in the upload server's first reply to the POST (its head and as
// much of the body as came with it); 0 when the reply carries no answer.
int ReplyStatus(const std::string& reply) {
    const std::size_t head = reply.find("\r\n\r\n");
    ApiAnswer ans;
    if (head == std::string::npos || ParseApiAnswer(reply.substr(head + 4), ans) != AnswerParse::Ok)
        return 0;
    return ans.status;
}

} // namespace

int UploadOneFile(UpInfo& upInfo, IUploadView* view) {
    transfers::TransferContext ctx;
    ctx.view = view;
    return UploadOneFile(upInfo, ctx);
}

int UploadOneFile(UpInfo& upInfo, const transfers::TransferContext& ctx) {
    const std::u16string name = upInfo.m_strFileName;
    // The whole path, however long: a cut one names another file or none.
    const std::string localPath = platform::ToNarrow(upInfo.m_strFilePath);

    {
        CFileSha1 digest;
        // The digest stops between chunks for the user's pause or cancel of this file too.
        std::atomic<int>& control = transfers::ControlOf(ctx);
        digest.SetAbortCheck([&control] { return control.load() != 0; });
        SetPhase(ctx, transfers::Phase::Preparing);
        digest.SetRegularFilesOnly(true);
        CopyToFixed(upInfo.m_tcSha1, digestcache::Cache::Shared().FileSha1(localPath, digest));
        int interrupted = 0;
        if (Interrupted(ctx, interrupted))
            return interrupted;
        if (platform::ThreadCancelRequested())
            return kUploadTransferFailed;
        // A file that is gone, not a regular file or unreadable would be announced and
        // refused again and again: it waits for the user instead.
        if (upInfo.m_tcSha1[0] == 0) {
            LogInfo(u"file [%s] cannot be read: %hs", name.c_str(), digest.ErrorText().c_str());
            return kUploadUnreadable;
        }
    }

    CAppSettings& st = GetAppSettings();
    RequestValues v;
    v.uid = st.m_szUid;
    v.token = st.m_szToken;
    v.sha1 = platform::ToNarrow(upInfo.m_tcSha1);
    v.filename = api_url::EscapeUtf8(upInfo.m_strFileName);
    v.suffix = api_url::EscapeUtf8(upInfo.m_tcExt);
    v.upchannel = Dec(upInfo.m_nFileType);
    v.folderid = Dec(upInfo.m_nNetDirId);

    int result = kUploadAnnounceFailed;
    if (upInfo.m_tcUploadIp[0] == 0 || upInfo.m_tcVid[0] == 0) {
        // The size announced is the file's as it is now, matching the digest just made.
        CGlobalVar::GetFileLength(upInfo.m_strFilePath.c_str(), &upInfo.m_nFileLen);
        int announced = 0;
        for (int a = 0; a < 3 && announced == 0; ++a) {
            announced = Announce(upInfo, v, a, ctx, result);
            if (announced == 0 && Interrupted(ctx, result))
                return result;
        }
        if (announced != 1)
            return result;
    }

    const std::string mid = api_url::EscapeUtf8(upInfo.m_tcVid);
    const std::string upid = api_url::EscapeUtf8(upInfo.m_tsUpID);
    const std::string server = UploadServer(upInfo);
    for (int a = 0; a < 3; ++a) {
        if (Interrupted(ctx, result))
            return result;
        std::string url = server + "/v2/getupload.json?uid=" + v.uid + "&mid=" + mid +
                          "&upid=" + upid + "&upchannel=" + v.upchannel + "&suffix=" + v.suffix +
                          "&folderid=" + v.folderid;
        LogInfo(u"file [%s] getupload.json %hs", name.c_str(), url.c_str());
        ApiAnswer ans;
        bool refused = false;
        if (!Call(url, u"getupload.json", name, ctx, ans, refused, true)) {
            LogInfo(u"getupload.json error");
            if (refused)
                return kUploadRefused;
            result = kUploadOffsetFailed;
            continue;
        }
        LogInfo(u"file [%s], getupload.json tsStatus %d", name.c_str(), ans.status);
        if (ans.status == 404 || ans.status == 401) {
            // The service no longer knows this upload (expired, or its data restored), or
            // the ids do not belong together: asking again can never succeed.
            ForgetUpload(upInfo, u"unknown to the upload server");
            return kUploadOffsetFailed;
        }
        if (ans.status != 200) {
            const bool lasting = Lasting(ans.status);
            LogError(u"file [%s] getupload.json: status %d%s", name.c_str(), ans.status,
                     lasting ? u", refused" : u"");
            if (lasting)
                return kUploadRefused;
            result = kUploadOffsetFailed;
            continue;
        }
        // Offsets of files over 4 GiB need all 64 bits.
        const Json::Value& at = ans.attachment;
        if (!at.isObject() || !at.isMember("byte") || !at["byte"].isUInt64()) {
            LogError(u"file [%s] getupload.json: the answer has no offset, refused", name.c_str());
            return kUploadRefused;
        }
        uint64_t start = at["byte"].asUInt64();
        LogInfo(u"file [%s], getupload.json success", name.c_str());
        if (Interrupted(ctx, result))
            return result;

        std::string path = "/v2/upload.json?uid=" + v.uid + "&mid=" + mid + "&upid=" + upid +
                           "&upchannel=" + v.upchannel + "&suffix=" + v.suffix +
                           "&folderid=" + v.folderid;
        CGlobalVar::GetFileLength(upInfo.m_strFilePath.c_str(), &upInfo.m_nFileLen);
        const std::string size = UDec(static_cast<unsigned long long>(upInfo.m_nFileLen));
        if (start > static_cast<uint64_t>(upInfo.m_nFileLen)) {
            // The file shrank since it was announced: these bytes can never match.
            ForgetUpload(upInfo, u"the file is shorter than the bytes received");
            return kUploadTransferFailed;
        }

        // Announced and its offset known: the bytes wait for a free transfer.
        SetPhase(ctx, transfers::Phase::WaitingForTransfer);
        if (ctx.gate != nullptr && !ctx.gate->Enter(transfers::ControlOf(ctx))) {
            if (Interrupted(ctx, result))
                return result;
            return kUploadTransferFailed;
        }
        SetPhase(ctx, transfers::Phase::Sending);
        std::string reply = PostFileData(path.c_str(), upInfo, localPath.c_str(), start, ctx);
        if (ctx.gate != nullptr)
            ctx.gate->Leave();
        if (reply == "0") {
            if (Interrupted(ctx, result))
                return result;
            result = kUploadTransferFailed;
            continue;
        }
        const int replyStatus = ReplyStatus(reply);
        if (replyStatus == 413) {
            // More bytes than were announced: the file grew since.
            ForgetUpload(upInfo, u"the file is longer than announced");
            return kUploadTransferFailed;
        }
        if (replyStatus != 0 && replyStatus != 200) {
            // The body was refused, not taken (423: the server still holds the previous,
            // interrupted transfer): ask for the offset again after a moment.
            LogInfo(u"file [%s] upload.json status %d", name.c_str(), replyStatus);
            result = kUploadTransferFailed;
            if (!platform::CancellableSleep(200))
                return result;
            continue;
        }

        std::string over = server + "/v2/uploadover.json?uid=" + v.uid + "&mid=" + mid +
                           "&upid=" + upid + "&upchannel=" + v.upchannel + "&suffix=" + v.suffix +
                           "&pname=&folderid=" + v.folderid + "&sha1=" + v.sha1 + "&size=" + size;
        // A pause or cancel that came with the last bytes wins: a cancelled file is never
        // confirmed.
        if (Interrupted(ctx, result))
            return result;
        SetPhase(ctx, transfers::Phase::Confirming);
        LogInfo(u"uploadover.json %hs", over.c_str());
        switch (Confirm(over, name, ctx)) {
        case Confirmation::Done:
            DeleteUploadTaskList(upInfo.m_strFilePath);
            if (ctx.view != nullptr)
                ctx.view->PostProgress(100, upInfo.m_strFilePath);
            return kUploadDone;
        case Confirmation::Rejected:
            ForgetUpload(upInfo, u"the content does not match the announcement");
            return kUploadTransferFailed;
        case Confirmation::Failed:
            return kUploadTransferFailed;
        case Confirmation::Refused:
            return kUploadRefused;
        }
    }
    return result;
}
