// What the upload engine needs from the window that shows the queue. The main window
// implements it; the engine never calls a window by any other way, and never while it
// holds the queue lock.
#pragma once

#include <cstdint>
#include <string>

#include "upload/up_info.h"
#include "upload/upload_task.h"

class IUploadView {
public:
    virtual ~IUploadView() = default;

    // Adds a row at the end of the upload list for a task just taken by the worker, with
    // progress value 0; the row shows this task's record.
    virtual void AddUploadRow(const TaskRef& task) = 0;
    // Sets the progress value of every row whose full path matches, ignoring case.
    virtual void SetRowValue(const std::u16string& fullPath, int value) = 0;
    // Shows the queue summary for n queued tasks (texts: `QueueSummaryTexts`).
    virtual void ShowQueueSummary(int n) = 0;
    // Shows "空间不足，请登录酷摩岚网站获得更多空间！" and returns when it is closed.
    virtual void ShowNoSpaceMessage() = 0;
    // Message 1525, posted: progress of the file being sent.
    virtual void PostProgress(int percent, const std::u16string& fullPath) = 0;
    // Message 1529, posted: every row becomes paused.
    virtual void PostAllPaused() = 0;
    // The rows of a task that cannot go on until the user acts (its file is gone or
    // unreadable, the service refused it) show `text` in place of their progress and offer
    // resume.
    virtual void ShowRowFailed(const std::u16string& fullPath, const std::u16string& text) = 0;
};

// "%.1f MB" above 1024 KB, else "%.1f KB".
std::u16string UploadSizeText(int64_t length);

// The texts of the controls "copyright_text" and "tab_uploadfile" for n queued tasks.
struct QueueSummary {
    std::u16string copyrightText;
    std::u16string tabText;
};
QueueSummary QueueSummaryTexts(int n);

inline constexpr char16_t kUnreadableFileText[] = u"上传失败：文件不存在或无法读取";
inline constexpr char16_t kRefusedFileText[] = u"上传失败：服务器拒绝了此文件";
inline constexpr char16_t kNoSpaceMessage[] = u"空间不足，请登录酷摩岚网站获得更多空间！";
