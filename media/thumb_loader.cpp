#include "media/thumb_loader.h"

#include <QString>
#include <algorithm>
#include <poll.h>
#include <thread>

#include "app/work_thread.h"
#include "media/file_name.h"
#include "media/media_ext.h"
#include "media/thumb_cache.h"
#include "media/thumbnail.h"
#include "media/video_frame.h"

// One decoder of the pool: takes the most needed request, makes its cell, reports it.
class ThumbLoader::Worker : public CWorkThread {
public:
    explicit Worker(ThumbLoader& owner) : CWorkThread(std::u16string()), m_owner(owner) {}
    ~Worker() override { StopAndJoin(); }

protected:
    int Run(CWorkThread*) override {
        const std::function<bool()> stopped = [this] { return !Wait(0); };
        // Cache entries are written once no cell is waiting: the screen comes first.
        std::deque<std::pair<std::u16string, Picture>> unwritten;
        while (Wait(0)) {
            Request r;
            if (!m_owner.Take(r)) {
                CheckBatch batch;
                if (m_owner.TakeCheck(batch)) {
                    std::vector<char> held(batch.files.size(), 0);
                    for (std::size_t i = 0; i < batch.files.size() && Wait(0); ++i)
                        held[i] = !batch.files[i].empty() &&
                                  thumbcache::Holds(media::QtFileName(batch.files[i]));
                    m_owner.CheckDone(batch, held);
                    continue;
                }
                if (!unwritten.empty()) {
                    WriteEntry(unwritten);
                    continue;
                }
                // Idle: sleeps until work is queued; the stop event ends the wait.
                if (platform::WaitFd(m_owner.m_work.Fd(), POLLIN, -1) !=
                    platform::WaitResult::Ready)
                    break;
                continue;
            }
            Picture entry;
            QImage cell = MakeCell(r.file, r.desktopCache, r.placeholder, stopped, &entry);
            m_owner.Deliver(r, cell);
            if (!entry.image.isNull())
                unwritten.emplace_back(r.file, std::move(entry));
            if (unwritten.size() > kMaxUnwritten)
                WriteEntry(unwritten);
        }
        return 0;
    }

private:
    static constexpr std::size_t kMaxUnwritten = 48; // about 7 MB of 256-pixel pictures

    static void WriteEntry(std::deque<std::pair<std::u16string, Picture>>& unwritten) {
        thumbcache::Store(media::QtFileName(unwritten.front().first), unwritten.front().second);
        unwritten.pop_front();
    }

    ThumbLoader& m_owner;
};

ThumbLoader::ThumbLoader(Ready ready, int threads)
    : m_ready(std::move(ready)), m_work(platform::EventHandle::Create()) {
    SetDecodeAllocationLimit(); // before the first decoder runs
    if (threads <= 0)
        threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    for (int i = 0; i < threads; ++i) {
        m_workers.push_back(std::make_unique<Worker>(*this));
        m_workers.back()->Start();
    }
}

ThumbLoader::~ThumbLoader() {
    Cancel();
    m_workers.clear();
}

int ThumbLoader::SetFiles(std::vector<std::u16string> files, bool desktopCache,
                          std::u16string videoPlaceholder) {
    std::lock_guard<std::mutex> lock(m_mu);
    m_files = std::move(files);
    m_desktopCache = desktopCache;
    m_placeholder = std::move(videoPlaceholder);
    m_queue.clear();
    m_checkNext = 0;
    m_checked = m_held = 0;
    const int generation = ++m_generation;
    UpdateWorkEvent();
    return generation;
}

void ThumbLoader::SetFile(int index, std::u16string file) {
    if (index < 0)
        return;
    std::lock_guard<std::mutex> lock(m_mu);
    if (static_cast<std::size_t>(index) >= m_files.size())
        m_files.resize(static_cast<std::size_t>(index) + 1);
    m_files[static_cast<std::size_t>(index)] = std::move(file);
    UpdateWorkEvent();
}

void ThumbLoader::Cancel() {
    std::lock_guard<std::mutex> lock(m_mu);
    m_queue.clear();
    m_checkNext = m_files.size(); // no more checks either
    ++m_generation;
    UpdateWorkEvent();
}

ThumbLoader::CacheCount ThumbLoader::CacheChecked() const {
    std::lock_guard<std::mutex> lock(m_mu);
    return {m_checked, m_held, static_cast<int>(m_files.size())};
}

bool ThumbLoader::CheckPending() const {
    return m_desktopCache && m_checkNext < m_files.size();
}

void ThumbLoader::UpdateWorkEvent() {
    if (!m_queue.empty() || CheckPending())
        m_work.Set();
    else
        m_work.Reset(); // under the lock, so work queued after this sets it again
}

bool ThumbLoader::TakeCheck(CheckBatch& b) {
    std::lock_guard<std::mutex> lock(m_mu);
    if (!CheckPending())
        return false;
    b.generation = m_generation.load();
    const std::size_t end = std::min(m_files.size(), m_checkNext + kCheckBatch);
    b.files.assign(m_files.begin() + static_cast<std::ptrdiff_t>(m_checkNext),
                   m_files.begin() + static_cast<std::ptrdiff_t>(end));
    m_checkNext = end;
    UpdateWorkEvent();
    return true;
}

void ThumbLoader::CheckDone(const CheckBatch& b, const std::vector<char>& held) {
    std::lock_guard<std::mutex> lock(m_mu);
    if (b.generation != m_generation.load())
        return;
    for (char h : held) {
        ++m_checked;
        m_held += h ? 1 : 0;
    }
}

bool ThumbLoader::Busy() const {
    std::lock_guard<std::mutex> lock(m_mu);
    return !m_queue.empty() || !m_inFlight.empty();
}

std::vector<int> ThumbLoader::WorkOrder(int count, int first, int last, int direction) {
    std::vector<int> order;
    if (count <= 0)
        return order;
    first = std::clamp(first, 0, count - 1);
    last = std::clamp(last, first, count - 1);
    const int page = last - first + 1;
    const int ahead = std::min(kReadAheadPages * page, kMaxReadAhead);
    const int behind = std::min(kBehindPages * page, kMaxReadAhead / 2);
    for (int i = first; i <= last; ++i)
        order.push_back(i);
    // Ahead in the direction of scrolling, nearest first, then the other way.
    const int fwdFrom = direction >= 0 ? last + 1 : first - 1;
    const int step = direction >= 0 ? 1 : -1;
    for (int k = 0, i = fwdFrom; k < ahead && i >= 0 && i < count; ++k, i += step)
        order.push_back(i);
    for (int k = 0, i = direction >= 0 ? first - 1 : last + 1; k < behind && i >= 0 && i < count;
         ++k, i -= step)
        order.push_back(i);
    return order;
}

void ThumbLoader::SetWanted(int first, int last, int direction,
                            const std::function<bool(int)>& held) {
    std::lock_guard<std::mutex> lock(m_mu);
    m_queue.clear();
    for (int i : WorkOrder(static_cast<int>(m_files.size()), first, last, direction)) {
        if (m_files[static_cast<std::size_t>(i)].empty() || (held && held(i)) ||
            std::find(m_inFlight.begin(), m_inFlight.end(), i) != m_inFlight.end())
            continue;
        m_queue.push_back(i);
    }
    UpdateWorkEvent();
}

bool ThumbLoader::Take(Request& r) {
    std::lock_guard<std::mutex> lock(m_mu);
    if (m_queue.empty()) {
        UpdateWorkEvent(); // reset unless checks wait, so an idle decoder sleeps
        return false;
    }
    r.index = m_queue.front();
    m_queue.pop_front();
    r.generation = m_generation.load();
    r.file = m_files[static_cast<std::size_t>(r.index)];
    r.desktopCache = m_desktopCache;
    r.placeholder = m_placeholder;
    m_inFlight.push_back(r.index);
    return true;
}

void ThumbLoader::Deliver(const Request& r, const QImage& cell) {
    // Reported before the item leaves the in-flight list, so that Busy stays true until
    // the cell has been handed over.
    if (r.generation == m_generation.load() && m_ready)
        m_ready(r.generation, r.index, cell);
    std::lock_guard<std::mutex> lock(m_mu);
    auto it = std::find(m_inFlight.begin(), m_inFlight.end(), r.index);
    if (it != m_inFlight.end())
        m_inFlight.erase(it);
}

QImage ThumbLoader::MakeCell(const std::u16string& file, bool desktopCache,
                             const std::u16string& videoPlaceholder,
                             const std::function<bool()>& stopped) {
    Picture entry;
    QImage cell = MakeCell(file, desktopCache, videoPlaceholder, stopped, &entry);
    if (!entry.image.isNull() && !(stopped && stopped()))
        thumbcache::Store(media::QtFileName(file), entry);
    return cell;
}

QImage ThumbLoader::MakeCell(const std::u16string& file, bool desktopCache,
                             const std::u16string& videoPlaceholder,
                             const std::function<bool()>& stopped, Picture* toStore) {
    const QString path = media::QtFileName(file);
    const bool cacheable = desktopCache && !thumbcache::IsInsideCache(path);
    if (cacheable) {
        Picture cached = thumbcache::Load(path);
        if (!cached.image.isNull())
            return CellFromPicture(cached.image, cached.original);
    }
    const QSize box(thumbcache::kLargeSize, thumbcache::kLargeSize);
    const bool video = IsMediaFile(file) && !IsImageFile(file);
    Picture picture =
        video ? VideoFramePicture(file, box, kVideoBudgetMs, stopped) : LoadPicture(file, box);
    if (picture.image.isNull()) {
        if (video && !videoPlaceholder.empty())
            return MakeThumbnail(videoPlaceholder);
        return WhiteThumbnail();
    }
    QImage cell = CellFromPicture(picture.image, picture.original);
    if (cacheable && toStore)
        *toStore = std::move(picture);
    return cell;
}
