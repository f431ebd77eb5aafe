// The picture host and the video-thumbnail host: small and large pictures, avatars, sources.
#include "service/api_common.h"
#include "service/pictures.h"
#include "service/secrets.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace qumo_service {

namespace {

std::string ContentTypeOf(const std::string& suffix) {
    std::string s = LowerAscii(suffix);
    if (s == "jpg" || s == "jpeg")
        return "image/jpeg";
    if (s == "png")
        return "image/png";
    if (s == "gif")
        return "image/gif";
    if (s == "bmp")
        return "image/bmp";
    if (s == "mp4")
        return "video/mp4";
    return "application/octet-stream";
}

void NotFound(httplib::Response& res) {
    res.status = 404;
    res.set_content("not found", "text/plain; charset=utf-8");
}

void ServePng(const std::string& path, httplib::Response& res) {
    std::string bytes;
    if (!ReadWholeFile(path, bytes, 16u << 20)) {
        NotFound(res);
        return;
    }
    res.set_content(bytes, "image/png");
}

// Streams a stored file without holding it in memory.
void ServeFile(const std::string& path, const std::string& type, httplib::Response& res) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        if (fd >= 0)
            ::close(fd);
        NotFound(res);
        return;
    }
    auto holder = std::shared_ptr<int>(new int(fd), [](int* p) {
        ::close(*p);
        delete p;
    });
    res.set_content_provider(static_cast<size_t>(st.st_size), type,
                             [holder](size_t offset, size_t length, httplib::DataSink& sink) {
                                 char buf[64 * 1024];
                                 size_t want = std::min(length, sizeof buf);
                                 ssize_t n =
                                     ::pread(*holder, buf, want, static_cast<off_t>(offset));
                                 if (n <= 0)
                                     return false;
                                 return sink.write(buf, static_cast<size_t>(n));
                             });
}

// A picture of a stored file: /pic/<s|l>/<cap>/<sha1>.png and /vthumb/<cap>/<sha1>.png.
void Picture(ServiceContext& ctx, const httplib::Request& req, httplib::Response& res, char kind) {
    std::string cap = req.matches[1], sha1 = req.matches[2];
    std::optional<FileRow> f = IsCap(cap) ? ctx.db.FileByCap(cap) : std::nullopt;
    if (!f || f->sha1 != sha1) {
        NotFound(res);
        return;
    }
    std::string path = ctx.store.PicturePath(sha1, kind);
    struct stat st;
    // Pictures are made at upload time; one lost to a crash is made again on demand.
    if (::stat(path.c_str(), &st) != 0 && ctx.store.HasBlob(sha1))
        MakePicturesFor(ctx.store, sha1, f->type == 200);
    ServePng(path, res);
}

// The stored file itself, by its capability: /src/<cap> and /play/<cap>.
void Source(ServiceContext& ctx, const httplib::Request& req, httplib::Response& res) {
    std::string cap = req.matches[1];
    std::optional<FileRow> f = IsCap(cap) ? ctx.db.FileByCap(cap) : std::nullopt;
    if (!f) {
        NotFound(res);
        return;
    }
    ServeFile(ctx.store.BlobPath(f->sha1), ContentTypeOf(f->suffix), res);
}

void Avatar(ServiceContext& ctx, const httplib::Request& req, httplib::Response& res) {
    std::string face = req.matches[1];
    std::optional<Account> a = IsCap(face) ? ctx.db.AccountByFace(face) : std::nullopt;
    if (!a) {
        NotFound(res);
        return;
    }
    std::string path = ctx.store.AvatarPath(a->uid);
    struct stat st;
    // Every account has a face, even one made without the demo.
    if (::stat(path.c_str(), &st) != 0)
        ctx.store.WriteFileAtomic(path,
                                  EncodePng(AvatarPicture(96, static_cast<uint32_t>(a->uid))));
    ServePng(path, res);
}

} // namespace

void AddMediaRoutes(httplib::Server& svr, ServiceContext& ctx) {
    const std::string pic = R"(([0-9a-f]{32})/([0-9a-f]{40})\.png)";
    svr.Get("/pic/s/" + pic,
            [&ctx](const httplib::Request& q, httplib::Response& r) { Picture(ctx, q, r, 's'); });
    svr.Get("/pic/l/" + pic,
            [&ctx](const httplib::Request& q, httplib::Response& r) { Picture(ctx, q, r, 'l'); });
    svr.Get("/vthumb/" + pic,
            [&ctx](const httplib::Request& q, httplib::Response& r) { Picture(ctx, q, r, 's'); });
    svr.Get(R"(/avatar/([0-9a-f]{32})\.png)",
            [&ctx](const httplib::Request& q, httplib::Response& r) { Avatar(ctx, q, r); });
    for (const char* route : {R"(/src/([0-9a-f]{32}))", R"(/play/([0-9a-f]{32}))"}) {
        svr.Get(route,
                [&ctx](const httplib::Request& q, httplib::Response& r) { Source(ctx, q, r); });
    }
}

} // namespace qumo_service
