#include "service/picture_decode.h"

#include <QImageReader>

#include <algorithm>
#include <mutex>
#include <semaphore>

namespace qumo_service {

namespace {

std::counting_semaphore<kMaxDecodes> g_slots(kMaxDecodes);

class Slot {
public:
    Slot() { g_slots.acquire(); }
    ~Slot() { g_slots.release(); }
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;
};

} // namespace

bool DecodeForThumbnail(const std::string& path, int maxSide, QImage& out) {
    static std::once_flag once;
    // Qt's own ceiling on any one image, a second wall behind the budget below.
    std::call_once(once, [] { QImageReader::setAllocationLimit(int(kDecodeBudgetBytes >> 20)); });
    QImageReader reader(QString::fromStdString(path));
    reader.setAutoTransform(true);
    reader.setDecideFormatFromContent(true);
    const QByteArray format = reader.format();
    const bool jpeg = format == "jpeg";
    if (!jpeg && format != "png" && format != "gif" && format != "bmp")
        return false;
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty())
        return false;
    QSize target = size;
    if (std::max(size.width(), size.height()) > maxSide)
        target = size.scaled(maxSide, maxSide, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
    const int64_t pixels = int64_t(size.width()) * size.height();
    int64_t bytes = 0;
    if (jpeg) {
        // The decoder scales by 1/2, 1/4 or 1/8 while decoding, never below the target.
        bytes = std::max<int64_t>(pixels / 64, int64_t(target.width()) * target.height()) * 4;
        reader.setScaledSize(target);
    } else {
        // A GIF keeps the previous frame beside the current one.
        bytes = pixels * (format == "gif" ? 8 : 4);
    }
    if (bytes > kDecodeBudgetBytes)
        return false;
    // The full-size pixels live only inside the slot: read, scale down, let go.
    Slot slot;
    QImage img = reader.read();
    if (img.isNull())
        return false;
    out = img.size() == target ? img
                               : img.scaled(target, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return !out.isNull();
}

} // namespace qumo_service
