// Folder list and file list pages.
#include "service/api_common.h"

namespace qumo_service {

namespace {

// Pages larger than this are cut; the client asks for 30 at a time.
const int64_t kMaxPage = 1000;

std::string FolderEntryJson(const Folder& f) {
    JsonObject o;
    o.Str("name", f.name).Str("dirid", std::to_string(f.parent)).Int("type", 100);
    o.Str("timestamp", std::to_string(f.created)).Str("fid", std::to_string(f.fid));
    return o.Done();
}

void FolderList(ServiceContext& ctx, const httplib::Request& req, httplib::Response& res) {
    std::optional<int64_t> uid = CheckToken(ctx, req, res);
    if (!uid)
        return;
    std::string list = "[";
    for (const Folder& f : ctx.db.Folders(*uid)) {
        if (list.size() > 1)
            list += ',';
        JsonObject o;
        o.Str("name", f.name).Str("fid", std::to_string(f.fid));
        o.Str("parenterid", std::to_string(f.parent));
        list += o.Done();
    }
    list += "]";
    SendJson(res, Ok(JsonObject().Raw("folderlist", list).Done()));
}

void FileList(ServiceContext& ctx, const httplib::Request& req, httplib::Response& res) {
    std::optional<int64_t> uid = CheckToken(ctx, req, res);
    if (!uid)
        return;
    int64_t mid = -1, folder = 0, num = 0;
    if (!ParamInt(req, "mid", -1, INT64_MAX, mid) ||
        !ParamInt(req, "folderid", 0, INT64_MAX, folder) ||
        !ParamInt(req, "num", 1, INT64_MAX, num)) {
        SendError(res, kBadParameter, "参数错误！");
        return;
    }
    if (!ctx.db.FolderExists(*uid, folder)) {
        SendError(res, kNotFound, "文件夹不存在！");
        return;
    }
    std::vector<Entry> entries =
        ctx.db.ListEntries(*uid, folder, mid, static_cast<int>(std::min(num, kMaxPage)));
    std::string list = "[";
    for (const Entry& e : entries) {
        if (list.size() > 1)
            list += ',';
        list += e.isDir ? FolderEntryJson(e.folder) : FileEntryJson(ctx, e.file);
    }
    list += "]";
    JsonObject o;
    o.Raw("filelist", list).Int("size", ctx.db.CountEntries(*uid, folder));
    SendJson(res, Ok(o.Done()));
}

} // namespace

std::string FileEntryJson(const ServiceContext& ctx, const FileRow& f) {
    std::string host = ctx.Scheme() + ctx.ApiHost();
    bool video = f.type == 200;
    JsonObject o;
    o.Str("name", f.name).Str("dirid", std::to_string(f.folder)).Int("type", f.type);
    o.Str("timestamp", std::to_string(f.created)).Str("id", std::to_string(f.id));
    o.Int("size", f.size).Str("suffix", f.suffix);
    // Every address carries the file's capability, so only whoever was given it (the owner,
    // through the listing, and whom he passes it to) can open it: the desktop's browser
    // opens "source" and "playurl" without a token. The pictures end in the content's
    // SHA-1, which names the picture files and lets a cache tell contents apart.
    const std::string pic = f.cap + "/" + f.sha1 + ".png";
    o.Str("source", host + "/src/" + f.cap);
    o.Str("bigpic", host + "/pic/l/" + pic);
    // A path on the picture host, or on the video-thumbnail host for videos.
    o.Str("mobilepic", (video ? "vthumb/" : "pic/s/") + pic);
    if (video)
        o.Str("playurl", host + "/play/" + f.cap);
    return o.Done();
}

void AddFileRoutes(httplib::Server& svr, ServiceContext& ctx) {
    svr.Get("/getfs.json",
            [&ctx](const httplib::Request& q, httplib::Response& r) { FolderList(ctx, q, r); });
    svr.Get("/getfilesforpc.json",
            [&ctx](const httplib::Request& q, httplib::Response& r) { FileList(ctx, q, r); });
}

} // namespace qumo_service
