#include "serverdir/file_download_thread.h"

#include <algorithm>

#include "base/log.h"
#include "media/preview_grid.h"
#include "media/thumb_loader.h"
#include "media/thumbnail.h"
#include "net/api_calls.h"
#include "net/hosts.h"
#include "net/http_get.h"
#include "platform/codepage.h"
#include "platform/files.h"
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
        record.m_entry->m_nItemType == kItemTypeVideo ? hosts::VideoThumb() : hosts::Picture();
    return "http://" + host + "/" + platform::ToNarrow(record.m_entry->m_tcMobilePic);
}

int FileDownLoadThread::Run(CWorkThread*) {
    m_columns = GridColumns(LayoutWidthOf(m_sink.OuterSize().width()));
    const PreviewState& preview = m_sink.Preview();
    bool listedOne = false;
    while (Wait(0)) {
        const ShownItems shown = m_sink.Shown();
        // What is on screen comes first; then the next page, once the user nears the end
        // of what is listed; then the read-ahead.
        std::vector<int> group = NextDownloads(shown, true);
        if (group.empty() && !m_listedAll &&
            (!listedOne || static_cast<int>(preview.records.size()) <= shown.last + kListAhead)) {
            if (ListPage() == Listed::Stop)
                return 0;
            listedOne = true;
            continue;
        }
        if (group.empty())
            group = NextDownloads(shown, false);
        if (group.empty()) {
            // Done once every item has its picture; a preview that makes its own
            // thumbnails may want a deleted one back when the user scrolls to it.
            const PictureState done = m_sink.MakesOwnThumbnails() ? kEvicted : kNone;
            bool all = m_listedAll;
            for (std::size_t i = 0; all && i < m_picture.size(); ++i)
                all = m_picture[i] != kNone && m_picture[i] != done;
            if (all)
                break;
            // Waiting for the user to scroll.
            if (!Wait(kScrollPollMs))
                return 0;
            continue;
        }
        DownloadGroup(group);
        // A stop that cut the downloads short leaves nothing worth drawing.
        if (!Wait(0))
            return 0;
        if (m_sink.MakesOwnThumbnails()) {
            for (int i : group)
                m_sink.SetItemFile(
                    i, ThumbnailFile(m_cacheDir,
                                     preview.records[m_nameRecord[static_cast<std::size_t>(i)]]));
        } else {
            std::size_t ready = m_shown;
            while (ready < m_picture.size() && m_picture[ready] == kHave)
                ++ready;
            if (ready > m_shown)
                AddThumbnails(static_cast<int>(ready - m_shown));
        }
        Evict(m_sink.Shown());
        if (m_pageOpen && m_shown == preview.names.size()) {
            m_sink.InvalidateList();
            m_pageOpen = false;
        }
    }
    return 0;
}

FileDownLoadThread::Listed FileDownLoadThread::ListPage() {
    PreviewState& preview = m_sink.Preview();
    FileListPage page;
    if (ApiGetFileListPage(m_mid, m_fid, m_num, m_failures, page) != ApiOutcome::Ok)
        return Listed::Stop; // four failed attempts, or stopped during a pause
    if (m_total == -1) {
        m_total = page.total;
        m_controls.SetControlText(u"version_text", CountText(m_total));
    }
    const std::size_t firstName = preview.names.size();
    for (const ServerFileEntry& entry : page.entries) {
        UpInfo record = MakeServerFileRecord(entry);
        if (record.m_entry->m_nItemType != kItemTypeFolder) {
            preview.names.push_back(DisplayName(record));
            m_nameRecord.push_back(preview.records.size());
            m_picture.push_back(kNone);
        }
        m_mid = ServerRecordId(record);
        preview.records.push_back(std::move(record));
    }
    preview.folder = m_cacheDir;
    if (m_sink.MakesOwnThumbnails()) {
        // The items show at once; each picture follows when it has been downloaded.
        m_sink.SetRedraw(true);
        m_sink.SetImageCount(static_cast<int>(preview.names.size()));
        for (std::size_t i = firstName; i < preview.names.size(); ++i) {
            if (!Wait(0))
                return Listed::Stop;
            ShowGridItem(m_sink, static_cast<int>(i), preview.names[i], nullptr,
                         &preview.records[m_nameRecord[i]], m_columns);
        }
        m_shown = preview.names.size();
    }
    m_pageOpen = true;
    if (m_shown == preview.names.size()) {
        m_sink.InvalidateList();
        m_pageOpen = false;
    }

    const int loaded = static_cast<int>(preview.records.size());
    if (m_total < loaded + kPageSize) {
        m_num = m_total - loaded;
        m_listedAll = m_num <= 0;
    } else {
        m_num = kPageSize;
    }
    // An empty page while entries are still missing would be asked for again at once,
    // for ever: it is a failed attempt of the run, with the run's pause.
    if (page.entries.empty() && !m_listedAll) {
        ++m_failures;
        if (!Wait(kFileListPauseMs))
            return Listed::Stop;
    }
    return Listed::Page;
}

std::vector<int> FileDownLoadThread::NextDownloads(const ShownItems& shown, bool screenOnly) const {
    std::vector<int> out;
    const int count = static_cast<int>(m_picture.size());
    if (!m_sink.MakesOwnThumbnails()) {
        // Items are placed in order, each with its picture: listing order.
        for (int i = static_cast<int>(m_shown); i < count && out.size() < kGroupSize; ++i)
            if (m_picture[static_cast<std::size_t>(i)] == kNone)
                out.push_back(i);
        return out;
    }
    if (count == 0 || shown.first >= count)
        return out;
    const int first = std::max(shown.first, 0);
    const int last = std::clamp(shown.last, first, count - 1);
    // A picture deleted for the bound comes again when its item is wanted again.
    auto wanted = [&](int i) { return m_picture[static_cast<std::size_t>(i)] != kHave; };
    if (screenOnly) {
        for (int i = first; i <= last && out.size() < kGroupSize; ++i)
            if (wanted(i))
                out.push_back(i);
        return out;
    }
    for (int i : ThumbLoader::WorkOrder(count, first, last, shown.direction)) {
        if (wanted(i))
            out.push_back(i);
        if (out.size() >= kGroupSize)
            break;
    }
    return out;
}

void FileDownLoadThread::DownloadGroup(const std::vector<int>& names) {
    const PreviewState& preview = m_sink.Preview();
    for (int name : names) {
        const UpInfo& record = preview.records[m_nameRecord[static_cast<std::size_t>(name)]];
        m_picture[static_cast<std::size_t>(name)] = kHave; // shown whether it arrives or not
        const std::u16string file = ThumbnailFile(m_cacheDir, record);
        if (!IsSendablePath(record.m_entry->m_tcMobilePic.c_str())) {
            LogError(u"DownLoadUrlFile %s failed.", file.c_str());
            continue;
        }
        const std::u16string url = platform::FromNarrow(ThumbnailUrl(record));
        DownLoadUrlFile(url.c_str(), file.c_str());
        platform::FileAttributes attr;
        if (platform::GetFileAttributesEx(file, attr) && !attr.isDirectory) {
            m_downloaded.push_back({name, file, static_cast<long long>(attr.size)});
            m_bytes += static_cast<long long>(attr.size);
        }
    }
}

void FileDownLoadThread::Evict(const ShownItems& shown) {
    if (m_downloaded.size() <= m_maxFiles && m_bytes <= m_maxBytes)
        return;
    // The screen and its read-ahead keep their pictures, whatever the bound; a preview
    // that draws each item once from its picture needs only those not drawn yet.
    const bool own = m_sink.MakesOwnThumbnails();
    std::vector<char> kept(m_picture.size(), 0);
    const int count = static_cast<int>(m_picture.size());
    for (int i = static_cast<int>(m_shown); !own && i < count; ++i)
        kept[static_cast<std::size_t>(i)] = 1;
    if (own && count > 0 && shown.first < count) {
        const int first = std::max(shown.first, 0);
        const int last = std::clamp(shown.last, first, count - 1);
        for (int i : ThumbLoader::WorkOrder(count, first, last, shown.direction))
            kept[static_cast<std::size_t>(i)] = 1;
    }
    for (auto it = m_downloaded.begin();
         it != m_downloaded.end() && (m_downloaded.size() > m_maxFiles || m_bytes > m_maxBytes);) {
        if (kept[static_cast<std::size_t>(it->name)]) {
            ++it;
            continue;
        }
        platform::DeleteTree(it->file);
        m_picture[static_cast<std::size_t>(it->name)] = kEvicted;
        if (own)
            m_sink.SetItemFile(it->name, std::u16string());
        m_bytes -= it->bytes;
        it = m_downloaded.erase(it);
    }
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
