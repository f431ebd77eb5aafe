#include "upload/upload_view.h"

#include "base/format.h"

std::u16string UploadSizeText(int64_t length) {
    double k = static_cast<double>(length) / 1024.0;
    if (k > 1024.0)
        return FormatText(u"%.1f MB", k / 1024.0);
    return FormatText(u"%.1f KB", k);
}

QueueSummary QueueSummaryTexts(int n) {
    if (n >= 1)
        return {FormatText(u"%d个文件正在上传......", n), FormatText(u"   文件上传进度(%d)", n)};
    return {u"暂无上传任务", u"   文件上传进度"};
}
