#include "serverdir/file_download_thread.h"

#include <algorithm>

#include "base/log.h"
#include "media/preview_grid.h"
#include "media/thumbnail.h"
#include "net/api_calls.h"
#include "net/hosts.h"
#include "net/http_get.h"
#include "platform/codepage.h"
#include "serverdir/safe_name.h"
#include "serverdir/server_file_record.h"

namespace {

constexpr int kScrollPollMs = 50;

std::u16string CountText(int total) {
    std::string n = std::to_string(total);
    return std::u16string(n.begin(), n.end()) + u"个文件";
}

// A picture path is sent as part of a request line: nothing that could end the line or
// split it into more fields gets there.
bool IsSendablePath(const char16_t* path) {
    for (const char16_t* p = path; *p; ++p) {
        if (*p <= 0x20 || *p == 0x7F)
            return false;
    }
    return true;
}

} // namespace

FileDownLoadThread::FileDownLoadThread(IPreviewSink& sink, IControlTextSink& controls, int fid,
                                       std::u16string cacheDir)
    : CWorkThread(u"Global\\FileDownLoadEvent"), m_sink(sink), m_controls(controls), m_fid(fid),
      m_cacheDir(std::move(cacheDir)) {}

FileDownLoadThread::~FileDownLoadThread() {
    StopAndJoin();
}

std::u16string FileDownLoadThread::ThumbnailFile(const std::u16string& cacheDir,
                                                 const UpInfo& record) {
    return PreviewFilePath(cacheDir, SafeDiskName(DisplayName(record)));
}

std::string FileDownLoadThread::ThumbnailUrl(const UpInfo& record) {
    const std::string host =
        record.m_nItemType == kItemTypeVideo ? hosts::VideoThumb() : hosts::Picture();
    return "http://" + host + "/" + platform::ToNarrow(record.m_tcMobilePic);
}

int FileDownLoadThread::Run(CWorkThread*) {
    m_columns = GridColumns(LayoutWidthOf(m_sink.OuterSize().width()));
    PreviewState& preview = m_sink.Preview();

    int mid = -1;
    int num = kPageSize;
    int total = -1;
    int failures = 0; // over the whole run, never reset
    do {
        FileListPage page;
        if (ApiGetFileListPage(mid, m_fid, num, failures, page) != ApiOutcome::Ok)
            break; // four failed attempts, or stopped during a pause
        if (total == -1) {
            total = page.total;
            m_controls.SetControlText(u"version_text", CountText(total));
        }

        const std::size_t firstRecord = preview.records.size();
        for (const ServerFileEntry& entry : page.entries) {
            UpInfo record = MakeServerFileRecord(entry);
            if (record.m_nItemType != kItemTypeFolder)
                preview.names.push_back(DisplayName(record));
            mid = ServerRecordId(record);
            preview.records.push_back(std::move(record));
        }
        preview.folder = m_cacheDir;

        // Two at a time, so that the first thumbnails show early and a stop takes effect
        // after at most one group.
        for (std::size_t i = firstRecord; i < preview.records.size(); i += kGroupSize) {
            if (!Wait(0))
                return 0;
            const std::size_t n = std::min<std::size_t>(kGroupSize, preview.records.size() - i);
            int brought = DownloadGroup(i, n);
            // A stop that cut the downloads short leaves nothing worth drawing.
            if (!Wait(0))
                return 0;
            if (brought > 0)
                AddThumbnails(brought);
        }
        m_sink.InvalidateList();

        const int loaded = static_cast<int>(preview.records.size());
        if (total < loaded + kPageSize) {
            num = total - loaded;
            if (num <= 0)
                break;
        } else {
            num = kPageSize;
        }
        // The next page waits until the user scrolls toward it.
        while (loaded > m_sink.LastWantedItem() + kListAhead) {
            if (!Wait(kScrollPollMs))
                return 0;
        }
        // An empty page while entries are still missing would be asked for again at once,
        // for ever: it is a failed attempt of the run, with the run's pause.
        if (page.entries.empty()) {
            ++failures;
            if (!Wait(kFileListPauseMs))
                break;
        }
    } while (Wait(0));
    return 0;
}

int FileDownLoadThread::DownloadGroup(std::size_t first, std::size_t count) {
    const PreviewState& preview = m_sink.Preview();
    int brought = 0;
    for (std::size_t i = first; i < first + count; ++i) {
        const UpInfo& record = preview.records[i];
        if (record.m_nItemType == kItemTypeFolder)
            continue;
        ++brought; // shown whether its picture arrives or not
        const std::u16string file = ThumbnailFile(m_cacheDir, record);
        if (!IsSendablePath(record.m_tcMobilePic.c_str())) {
            LogError(u"DownLoadUrlFile %s failed.", file.c_str());
            continue;
        }
        const std::u16string url = platform::FromNarrow(ThumbnailUrl(record));
        DownLoadUrlFile(url.c_str(), file.c_str());
    }
    return brought;
}

void FileDownLoadThread::AddThumbnails(int n) {
    const PreviewState& preview = m_sink.Preview();
    m_sink.SetRedraw(true);
    m_sink.SetImageCount(static_cast<int>(preview.names.size()));
    const std::size_t end = std::min(preview.names.size(), m_shown + static_cast<std::size_t>(n));
    for (std::size_t i = m_shown; i < end; ++i) {
        const std::u16string& name = preview.names[i];
        const std::u16string file = PreviewFilePath(preview.folder, SafeDiskName(name));
        int rec = FindRecordByName(preview.records, i, name);
        const UpInfo* record = rec >= 0 ? &preview.records[static_cast<std::size_t>(rec)] : nullptr;
        if (m_sink.MakesOwnThumbnails()) {
            // The preview decodes what is on screen first, on all cores.
            m_sink.SetItemFile(static_cast<int>(i), file);
            ShowGridItem(m_sink, static_cast<int>(i), name, nullptr, record, m_columns);
            continue;
        }
        QImage thumb = MakeThumbnail(file);
        ShowGridItem(m_sink, static_cast<int>(i), name, &thumb, record, m_columns);
    }
    m_shown = end;
}
