// Lists a server folder's files page by page as the user scrolls toward them, downloads
// the small pictures of what the preview shows first (then a read-ahead in the direction
// of scrolling) into the folder's thumbnail cache directory, and adds the thumbnails to
// the preview grid. The directory holds a bounded number of pictures: the oldest
// downloaded outside the screen and its read-ahead go first.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

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
    // Pictures kept in the cache directory at most.
    static constexpr std::size_t kMaxCachedFiles = 1000;
    static constexpr long long kMaxCachedBytes = 64LL << 20;

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

    // Another bound for the cache directory; before Start.
    void SetCacheBound(std::size_t files, long long bytes) {
        m_maxFiles = files;
        m_maxBytes = bytes;
    }

protected:
    int Run(CWorkThread* worker) override;

private:
    enum class Listed { Page, Stop };
    enum PictureState : unsigned char { kNone, kHave, kEvicted };
    struct Downloaded {
        int name;
        std::u16string file;
        long long bytes;
    };

    // Lists the next page, and places its items at once when the preview makes its own
    // thumbnails.
    Listed ListPage();
    // The next names whose pictures to download: on screen only, or the whole read-ahead.
    // A preview that cannot show an item before its picture gets them in listing order.
    std::vector<int> NextDownloads(const ShownItems& shown, bool screenOnly) const;
    // Downloads the small pictures of `names`.
    void DownloadGroup(const std::vector<int>& names);
    // Deletes the oldest pictures outside the read-ahead of `shown` while over the bound.
    void Evict(const ShownItems& shown);
    // Shows names [m_shown, m_shown + n) with their thumbnails.
    void AddThumbnails(int n);

    IPreviewSink& m_sink;
    IControlTextSink& m_controls;
    const int m_fid;
    const std::u16string m_cacheDir;
    int m_columns = 1;
    std::size_t m_shown = 0; // names already on the grid
    std::size_t m_maxFiles = kMaxCachedFiles;
    long long m_maxBytes = kMaxCachedBytes;

    // The listing.
    int m_mid = -1;
    int m_num = kPageSize;
    int m_total = -1;
    int m_failures = 0; // over the whole run, never reset
    bool m_listedAll = false;
    bool m_pageOpen = false; // listed, not yet invalidated

    std::vector<std::size_t> m_nameRecord; // name i is records[m_nameRecord[i]]
    std::vector<PictureState> m_picture;   // per name
    std::deque<Downloaded> m_downloaded;   // oldest first
    long long m_bytes = 0;
};
