// The texts of the progress line, the rows' speeds and the end-of-uploads notification,
// made from the figures of TransferStats.
#pragma once

#include "upload/transfer_stats.h"

#include <cstdint>
#include <string>

// "512 B", "45.2 KB", "45.2 MB", "1.3 GB".
std::u16string ByteCountText(uint64_t bytes);
// "2.1 MB/s".
std::u16string SpeedText(double bytesPerSec);
// "约 36 秒", "约 5 分钟", "约 2 小时 10 分钟".
std::u16string TimeLeftText(int64_t seconds);
// The line while uploads run, e.g. "正在上传 3/21 个文件 · 45.2 MB/120.0 MB · 2.1 MB/s · 约 36 秒";
// while nothing moves and the service gives no answer "正在上传 3/21 个文件 · 等待网络……"
// (without that answer missing, the bytes and no speed), while everything is paused
// "上传已暂停 3/21 个文件". Empty when the figures know of no batch (the caller then keeps
// the plain summary).
std::u16string ProgressLineText(const TransferStats::Figures& f);
// "上传完成：21 个文件，2 个失败" (without failures: "上传完成：21 个文件").
std::u16string UploadsFinishedText(const TransferStats::Figures& f);
