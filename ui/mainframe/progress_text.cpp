#include "ui/mainframe/progress_text.h"

#include <QString>

#include <cmath>

namespace {

constexpr double kKB = 1024.0;

std::u16string Std(const QString& s) {
    return s.toStdU16String();
}

} // namespace

std::u16string ByteCountText(uint64_t bytes) {
    const double b = static_cast<double>(bytes);
    if (b < kKB) {
        return Std(QStringLiteral("%1 B").arg(bytes));
    }
    if (b < kKB * kKB) {
        return Std(QString::asprintf("%.1f KB", b / kKB));
    }
    if (b < kKB * kKB * kKB) {
        return Std(QString::asprintf("%.1f MB", b / (kKB * kKB)));
    }
    return Std(QString::asprintf("%.1f GB", b / (kKB * kKB * kKB)));
}

std::u16string SpeedText(double bytesPerSec) {
    return ByteCountText(static_cast<uint64_t>(std::llround(std::max(bytesPerSec, 0.0)))) + u"/s";
}

std::u16string TimeLeftText(int64_t seconds) {
    if (seconds < 60) {
        return Std(QStringLiteral("约 %1 秒").arg(std::max<int64_t>(seconds, 1)));
    }
    // Minutes and hours are rounded up: "about 1 minute" must not be shown for 119 s.
    const int64_t minutes = (seconds + 59) / 60;
    if (minutes < 60) {
        return Std(QStringLiteral("约 %1 分钟").arg(minutes));
    }
    return Std(QStringLiteral("约 %1 小时 %2 分钟").arg(minutes / 60).arg(minutes % 60));
}

std::u16string ProgressLineText(const TransferStats::Figures& f) {
    if (f.filesTotal == 0) {
        return {};
    }
    if (f.paused) {
        return Std(QStringLiteral("上传已暂停 %1/%2 个文件").arg(f.filesDone).arg(f.filesTotal));
    }
    std::u16string line =
        Std(QStringLiteral("正在上传 %1/%2 个文件").arg(f.filesDone).arg(f.filesTotal));
    const std::u16string sep = u" · ";
    // A stall with a service that answers (refusals, back-off after them) is no network
    // fault: the line keeps its figures.
    if (f.stalled && f.unreachable) {
        return line + sep + u"等待网络……";
    }
    line += sep + ByteCountText(f.bytesDone) + u"/" + ByteCountText(f.bytesTotal);
    if (f.hasSpeed) {
        line += sep + SpeedText(f.bytesPerSec);
        if (f.secondsLeft >= 0) {
            line += sep + TimeLeftText(f.secondsLeft);
        }
    }
    return line;
}

std::u16string UploadsFinishedText(const TransferStats::Figures& f) {
    std::u16string text = Std(QStringLiteral("上传完成：%1 个文件").arg(f.filesTotal));
    if (f.filesFailed > 0) {
        text += Std(QStringLiteral("，%1 个失败").arg(f.filesFailed));
    }
    return text;
}
