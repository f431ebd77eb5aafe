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
#include "upload/upload_list_file.h"

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

// One announcement; returns 1 when the task now has an upload server, or a result code.
int Announce(UpInfo& t, const RequestValues& v, int attempt, int& result) {
    LogInfo(u"allinone.json, upInfo.m_nFileLen = %llu, upInfo.m_nFileType = %d",
            static_cast<unsigned long long>(t.m_nFileLen), t.m_nFileType);
    std::string url =
        "http://" + hosts::Api() + "/allinone.json?uid=" + v.uid + "&token=" + v.token +
        "&sha1=" + v.sha1 + "&folderid=" + v.folderid + "&filename=" + v.filename +
        "&suffix=" + v.suffix + "&size=" + UDec(static_cast<unsigned long long>(t.m_nFileLen)) +
        "&upchannel=" + v.upchannel + "&retry=" + Dec(attempt) + "&client=pc&foldername=";
    std::string body;
    if (!HttpModuleGet(url.c_str(), body)) {
        LogInfo(u"allinone.json error %d", attempt + 1);
        result = kUploadAnnounceFailed;
        return 0;
    }
    ApiAnswer ans;
    if (ParseApiAnswer(body, ans) != AnswerParse::Ok) {
        result = kUploadAnnounceParse;
        return 0;
    }
    int s = 0;
    if (ans.status != 200 || !api_json::Int(ans.attachment, "status", s)) {
        result = kUploadAnnounceFailed;
        return 0;
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
    if (!api_json::Int(ans.attachment, "mid", mid) ||
        !api_json::Int(ans.attachment, "upid", upid)) {
        result = kUploadAnnounceFailed;
        return 0;
    }
    std::string uploadip;
    api_json::Text(ans.attachment, "uploadip", uploadip);
    SetUploadServer(t, uploadip);
    CopyToFixed(t.m_tcVid, platform::FromNarrow(Dec(mid)));
    CopyToFixed(t.m_tsUpID, platform::FromNarrow(Dec(upid)));
    LogInfo(u"1 file [%s] upInfo.m_tcVid is [%s]", t.m_strFileName.c_str(), t.m_tcVid);
    LogInfo(u"1 file [%s] upInfo.m_tsUpID is [%s]", t.m_strFileName.c_str(), t.m_tsUpID);
    UpdateUploadTaskList(t);
    return 1;
}

// Reads the control flag and puts it back to 0 when it asked for something.
int TakeControlFlag() {
    int flag = CGlobalVar::m_nUploadCtrl;
    if (flag != 0)
        CGlobalVar::m_nUploadCtrl = 0;
    return flag;
}

// The confirmation. Only an answer with status 200 finishes the upload; anything else is
// tried again later (the service discards bytes that did not match, so they are sent
// again). A confirmation that finds the upload server still busy with the upload (status
// 423: it is closing the transfer, or still digesting a large file after an earlier
// confirmation timed out) is asked again for up to a minute; a missing answer twice more.
bool Confirm(const std::string& url, const std::u16string& name) {
    int unanswered = 0;
    for (int busy = 0; busy < 120;) {
        std::string body;
        if (!HttpModuleGet(url.c_str(), body)) {
            LogInfo(u"file %s uploadover.json error", name.c_str());
            if (++unanswered >= 3 || !platform::CancellableSleep(200))
                return false;
            continue;
        }
        LogInfo(u"uploadover.json success");
        ApiAnswer ans;
        if (ParseApiAnswer(body, ans) == AnswerParse::Ok && ans.status == 200)
            return true;
        LogInfo(u"file %s uploadover.json status %d", name.c_str(), ans.status);
        if (ans.status != 423)
            return false;
        ++busy;
        if (!platform::CancellableSleep(busy < 5 ? 100 : 500))
            return false;
    }
    return false;
}

} // namespace

int UploadOneFile(UpInfo& upInfo, IUploadView* view) {
    const std::u16string name = upInfo.m_strFileName;
    char localPath[520] = {};
    platform::WideToNarrow(upInfo.m_strFilePath.c_str(), localPath, sizeof localPath);

    {
        CFileSha1 digest;
        CopyToFixed(upInfo.m_tcSha1, digest.GetFileSha1(localPath));
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
        int announced = 0;
        for (int a = 0; a < 3 && announced == 0; ++a)
            announced = Announce(upInfo, v, a, result);
        if (announced != 1)
            return result;
    }

    const std::string mid = api_url::EscapeUtf8(upInfo.m_tcVid);
    const std::string upid = api_url::EscapeUtf8(upInfo.m_tsUpID);
    const std::string server = UploadServer(upInfo);
    for (int a = 0; a < 3; ++a) {
        std::string url = server + "/v2/getupload.json?uid=" + v.uid + "&mid=" + mid +
                          "&upid=" + upid + "&upchannel=" + v.upchannel + "&suffix=" + v.suffix +
                          "&folderid=" + v.folderid;
        LogInfo(u"file [%s] getupload.json %hs", name.c_str(), url.c_str());
        std::string body;
        if (!HttpModuleGet(url.c_str(), body)) {
            LogInfo(u"getupload.json error");
            result = kUploadOffsetFailed;
            continue;
        }
        ApiAnswer ans;
        if (ParseApiAnswer(body, ans) != AnswerParse::Ok) {
            LogInfo(u"getupload.json parse error");
            result = kUploadOffsetParse;
            continue;
        }
        LogInfo(u"file [%s], getupload.json tsStatus %d", name.c_str(), ans.status);
        // Offsets of files over 4 GiB need all 64 bits.
        const Json::Value& at = ans.attachment;
        if (ans.status != 200 || !at.isObject() || !at.isMember("byte") || !at["byte"].isUInt64()) {
            result = kUploadOffsetFailed;
            continue;
        }
        uint64_t start = at["byte"].asUInt64();
        LogInfo(u"file [%s], getupload.json success", name.c_str());

        std::string path = "/v2/upload.json?uid=" + v.uid + "&mid=" + mid + "&upid=" + upid +
                           "&upchannel=" + v.upchannel + "&suffix=" + v.suffix +
                           "&folderid=" + v.folderid;
        CGlobalVar::GetFileLength(upInfo.m_strFilePath.c_str(), &upInfo.m_nFileLen);
        const std::string size = UDec(static_cast<unsigned long long>(upInfo.m_nFileLen));

        std::string reply = PostFileData(path.c_str(), upInfo, localPath, start, view);
        if (reply == "0") {
            int flag = TakeControlFlag();
            if (flag == 1)
                return kUploadDone;
            if (flag == 2)
                return kUploadPaused;
            result = kUploadTransferFailed;
            continue;
        }

        std::string over = server + "/v2/uploadover.json?uid=" + v.uid + "&mid=" + mid +
                           "&upid=" + upid + "&upchannel=" + v.upchannel + "&suffix=" + v.suffix +
                           "&pname=&folderid=" + v.folderid + "&sha1=" + v.sha1 + "&size=" + size;
        LogInfo(u"uploadover.json %hs", over.c_str());
        if (!Confirm(over, name))
            return kUploadTransferFailed;
        DeleteUploadTaskList(upInfo.m_strFilePath);
        return kUploadDone;
    }
    return result;
}
