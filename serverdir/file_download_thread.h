// Lists a server folder's files page by page, downloads each file's small picture into
// the folder's thumbnail cache directory and adds the thumbnails to the preview grid.
#pragma once

#include <cstddef>
#include <string>

#include "app/work_thread.h"
#include "media/preview_sink.h"
#include "upload/up_info.h"

// The main window's controls the listing writes to, besides the preview. Like the
// preview requests, a call is carried out on the user-interface thread and waited for.
class IControlTextSink {
public:
    virtual ~IControlTextSink() = default;
    virtual void SetControlText(const char16_t* control, const std::u16string& text) = 0;
};

class FileDownLoadThread : public CWorkThread {
public:
    static constexpr int kPageSize = 30;
    static constexpr int kGroupSize = 2;
    // Pages are fetched only while the user is within this many items of the end.
    static constexpr int kListAhead = kPageSize;

    // `cacheDir` is the folder's directory in the thumbnail cache (ServerFolderCacheDir);
    // the window has emptied it of files and cleared the preview before starting.
    FileDownLoadThread(IPreviewSink& sink, IControlTextSink& controls, int fid,
                       std::u16string cacheDir);
    ~FileDownLoadThread() override;

    // The local file a record's small picture is saved as: the cache directory and the
    // record's display name made safe for the disk.
    static std::u16string ThumbnailFile(const std::u16string& cacheDir, const UpInfo& record);
    // "http://" + picture host (video-thumbnail host for videos) + "/" + "mobilepic".
    static std::string ThumbnailUrl(const UpInfo& record);

protected:
    int Run(CWorkThread* worker) override;

private:
    // Downloads the small pictures of records[first, first + count); returns how many of
    // them are files (sub-folders have no picture).
    int DownloadGroup(std::size_t first, std::size_t count);
    // Shows names [m_shown, m_shown + n) with their thumbnails.
    void AddThumbnails(int n);

    IPreviewSink& m_sink;
    IControlTextSink& m_controls;
    const int m_fid;
    const std::u16string m_cacheDir;
    int m_columns = 1;
    std::size_t m_shown = 0; // names already on the grid
};
