// The demo account, seeded once into an empty data folder: a folder tree three levels deep,
// a few dozen generated pictures and a video, so the client has something to show.
#include "service/api_common.h"
#include "service/digest.h"
#include "service/pictures.h"

namespace qumo_service {

namespace {

const char* const kDemoMobile = "13800138000";
const char* const kDemoPassword = "qumo2012";
const char* const kDemoNick = "酷摩小岚";
const int64_t kDemoSpaceMb = 2048;
// 2012-01-23 10:00 local-ish; entries are spread over the following days.
const int64_t kDemoEpoch = 1327284000;

bool AddPicture(ServiceContext& ctx, int64_t uid, int64_t folder, const std::string& name,
                uint32_t seed, int64_t when) {
    QImage img = GeneratedPicture(480, 360, seed);
    std::string png = EncodePng(img);
    std::string sha1 = Sha1HexOf(png);
    // The source is no larger than a large picture, so it serves as its own.
    if (png.empty() || !ctx.store.WriteBlob(sha1, png, false) ||
        !ctx.store.WriteFileAtomic(ctx.store.PicturePath(sha1, 'l'), png, false) ||
        !ctx.store.WriteFileAtomic(ctx.store.PicturePath(sha1, 's'),
                                   EncodePng(ScaleToFit(img, kSmallSide)), false))
        return false;
    FileRow f;
    f.owner = uid;
    f.folder = folder;
    f.name = name;
    f.suffix = "png";
    f.size = static_cast<int64_t>(png.size());
    f.type = 1;
    f.sha1 = sha1;
    f.created = when;
    return ctx.db.AddFile(f) > 0;
}

// Not a playable film: a short file that starts like an MP4 and stands in for one.
bool AddVideo(ServiceContext& ctx, int64_t uid, int64_t folder, const std::string& name,
              int64_t when) {
    std::string bytes("\0\0\0\x18"
                      "ftypmp42\0\0\0\0mp42isom",
                      24);
    for (int i = 0; i < 4096; ++i)
        bytes += static_cast<char>((i * 131 + 7) & 0xFF);
    std::string sha1 = Sha1HexOf(bytes);
    if (!ctx.store.WriteBlob(sha1, bytes, false) ||
        !WritePictures(ctx.store, sha1, VideoPlaceholder(480, 360, SeedFromSha1(sha1))))
        return false;
    FileRow f;
    f.owner = uid;
    f.folder = folder;
    f.name = name;
    f.suffix = "mp4";
    f.size = static_cast<int64_t>(bytes.size());
    f.type = 200;
    f.sha1 = sha1;
    f.created = when;
    return ctx.db.AddFile(f) > 0;
}

bool SeedContent(ServiceContext& ctx, std::string& err);

} // namespace

bool SeedDemo(ServiceContext& ctx, std::string& err) {
    if (ctx.db.Meta("demo_seeded") == "1" || ctx.db.AccountByMobile(kDemoMobile)) {
        ctx.db.SetMeta("demo_seeded", "1");
        return true;
    }
    // One sync at the end instead of one per file and record: the seed is all or nothing
    // anyway, since it is redone until "demo_seeded" is recorded.
    ctx.db.SetBulkLoad(true);
    bool ok = SeedContent(ctx, err);
    ctx.db.SetBulkLoad(false);
    ok = ok && ctx.store.SyncAll() && ctx.db.SetMeta("demo_seeded", "1");
    if (!ok && err.empty())
        err = "cannot record the demo seed";
    return ok;
}

namespace {

bool SeedContent(ServiceContext& ctx, std::string& err) {
    int64_t uid = 0;
    if (!ctx.db.CreateAccount(kDemoMobile, Md5HexOf(kDemoPassword), kDemoNick, kDemoSpaceMb, uid)) {
        err = "cannot create the demo account";
        return false;
    }
    ctx.store.WriteFileAtomic(ctx.store.AvatarPath(uid), EncodePng(AvatarPicture(96, 2012)), false);
    int64_t travel = ctx.db.AddFolder(uid, 0, "旅行照片");
    int64_t spring = ctx.db.AddFolder(uid, travel, "2012年春节");
    int64_t fair = ctx.db.AddFolder(uid, spring, "北京庙会");
    int64_t family = ctx.db.AddFolder(uid, 0, "家庭相册");
    int64_t baby = ctx.db.AddFolder(uid, family, "宝宝成长");
    int64_t videos = ctx.db.AddFolder(uid, 0, "视频");
    if (travel < 0 || spring < 0 || fair < 0 || family < 0 || baby < 0 || videos < 0) {
        err = "cannot create the demo folders";
        return false;
    }
    bool ok = true;
    for (int i = 1; i <= 20 && ok; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "春节%02d.png", i);
        ok = AddPicture(ctx, uid, spring, name, 1000 + i, kDemoEpoch + i * 3600);
    }
    for (int i = 1; i <= 12 && ok; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "全家福%02d.png", i);
        ok = AddPicture(ctx, uid, family, name, 2000 + i, kDemoEpoch + 86400 * 20 + i * 600);
    }
    ok = ok && AddVideo(ctx, uid, family, "宝宝第一次走路.mp4", kDemoEpoch + 86400 * 40);
    if (!ok) {
        err = "cannot store the demo pictures";
        return false;
    }
    return true;
}

} // namespace

} // namespace qumo_service
