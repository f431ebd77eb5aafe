// The announcement of an upload ("allinone"): instant upload, no space, or an upload session.
#include "service/api_common.h"

namespace qumo_service {

namespace {

// Largest file the service takes (bytes); also keeps sums far from overflow.
const int64_t kMaxFileSize = 1LL << 40;

void Announce(ServiceContext& ctx, const httplib::Request& req, httplib::Response& res) {
    std::optional<int64_t> uid = CheckToken(ctx, req, res);
    if (!uid)
        return;
    std::string sha1 = LowerAscii(req.get_param_value("sha1"));
    std::string name = req.get_param_value("filename");
    std::string suffix = req.get_param_value("suffix");
    int64_t folder = 0, size = 0;
    if (!IsLowerHex40(sha1)) {
        SendError(res, kBadParameter, "文件校验码错误！");
        return;
    }
    if (!ParamInt(req, "folderid", 0, INT64_MAX, folder) ||
        !ParamInt(req, "size", 0, kMaxFileSize, size)) {
        SendError(res, kBadParameter, "参数错误！");
        return;
    }
    if (!IsSafeName(name) || suffix.size() > 20 || (!suffix.empty() && !IsSafeName(suffix)) ||
        ctx.faults.TakeAnnounceRefusal()) {
        SendError(res, kBadParameter, "文件名错误！");
        return;
    }
    if (!ctx.db.FolderExists(*uid, folder)) {
        SendError(res, kNotFound, "文件夹不存在！");
        return;
    }
    UploadRow u;
    u.owner = *uid;
    u.folder = folder;
    u.name = name;
    u.suffix = suffix;
    u.size = size;
    u.type = TypeOfSuffix(suffix);
    u.sha1 = sha1;
    if (std::optional<int64_t> id = ctx.db.AddIfContentKnown(u)) {
        ctx.counters.instantUploads++;
        JsonObject o;
        o.Int("status", 1).Str("id", std::to_string(*id));
        SendJson(res, Ok(o.Done()));
        return;
    }
    std::optional<Account> a = ctx.db.AccountByUid(*uid);
    if (!a) {
        SendError(res, kBadToken, "用户不存在！");
        return;
    }
    std::optional<UploadRow> up = ctx.db.FindUpload(u);
    if (up) {
        ctx.db.TouchUpload(up->upid);
    } else {
        // A new upload reserves its size at once, so uploads announced together cannot pass
        // the quota; a running one keeps its place (its reservation is already counted).
        bool noSpace = false;
        up = ctx.db.CreateUpload(u, a->totalMb * (1LL << 20), noSpace);
        if (noSpace) {
            ctx.counters.refusedNoSpace++;
            SendJson(res, Ok(JsonObject().Int("status", 5).Str("msg", "空间不足").Done()));
            return;
        }
        if (!up) {
            SendError(res, kServerError, "服务器忙，请稍后再试！");
            return;
        }
        ctx.counters.uploadsOpened++;
    }
    JsonObject o;
    o.Int("status", 0).Int("mid", up->mid).Int("upid", up->upid).Str("uploadip", ctx.UploadHost());
    SendJson(res, Ok(o.Done()));
}

} // namespace

void AddAnnounceRoute(httplib::Server& svr, ServiceContext& ctx) {
    svr.Get("/allinone.json",
            [&ctx](const httplib::Request& q, httplib::Response& r) { Announce(ctx, q, r); });
}

} // namespace qumo_service
