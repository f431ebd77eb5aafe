// Makes the 160 x 120 cells of a preview's items on a small pool of worker threads (one
// per core): the items on screen first, then a bounded read-ahead in the direction of
// scrolling, then a little behind; nothing further, so a folder of any size costs only
// what the user looks at. A cell comes from the desktop's thumbnail cache when that holds
// the file as it is now, and is written there when it had to be made.
#pragma once

#include <QImage>
#include <QSize>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "media/thumbnail.h"
#include "platform/event.h"

class ThumbLoader {
public:
    // Called on a worker thread with each cell made for the current generation.
    using Ready = std::function<void(int generation, int index, const QImage& cell)>;

    static constexpr int kReadAheadPages = 2; // in the direction of scrolling
    static constexpr int kBehindPages = 1;    // the other way
    static constexpr int kMaxReadAhead = 240; // items, whatever the page size
    static constexpr int kVideoBudgetMs = 3000;

    // `threads` 0: as many as the machine has cores.
    explicit ThumbLoader(Ready ready, int threads = 0);
    ~ThumbLoader(); // stops the workers (each ends after its current file) and joins them

    // The files of a new preview, item i showing files[i] (empty: no picture); drops the
    // queued work and returns the new generation. `desktopCache`: read and write the
    // desktop's thumbnail cache. `videoPlaceholder` is shown for a video without a frame.
    int SetFiles(std::vector<std::u16string> files, bool desktopCache,
                 std::u16string videoPlaceholder = {});
    // Item `index` (added while the preview grows) shows `file`.
    void SetFile(int index, std::u16string file);
    // The items on screen are [first, last]; `direction` > 0 after scrolling down, < 0 up.
    // Queues, in order of need, those of the wanted items for which `held` is false.
    void SetWanted(int first, int last, int direction, const std::function<bool(int)>& held);
    // Drops the queued work; cells being made are not reported.
    void Cancel();
    // True while work is queued or being done.
    bool Busy() const;
    int Generation() const { return m_generation.load(); }
    // With the desktop cache, idle decoders look for every file of the preview whether the
    // cache holds it (from the entries' heads, nothing decoded), so that a folder seen
    // before is known to come whole from the cache; these are the counts so far.
    struct CacheCount {
        int checked = 0;
        int held = 0;
        int files = 0;
    };
    CacheCount CacheChecked() const;
    int Threads() const { return static_cast<int>(m_workers.size()); }

    // The items to make for a screen of [first, last] among `count`, most needed first.
    static std::vector<int> WorkOrder(int count, int first, int last, int direction);
    // One cell: from the desktop cache, else decoded (a video's frame; the placeholder or
    // white when nothing can be decoded), and then cached when `desktopCache`.
    static QImage MakeCell(const std::u16string& file, bool desktopCache,
                           const std::u16string& videoPlaceholder,
                           const std::function<bool()>& stopped);
    // The same, leaving the desktop cache entry to write, if any, in `toStore`, so that
    // the cell can be shown before the entry is written.
    static QImage MakeCell(const std::u16string& file, bool desktopCache,
                           const std::u16string& videoPlaceholder,
                           const std::function<bool()>& stopped, Picture* toStore);

private:
    class Worker;
    struct Request {
        int generation = 0;
        int index = 0;
        std::u16string file;
        bool desktopCache = true;
        std::u16string placeholder;
    };
    struct CheckBatch {
        int generation = 0;
        std::vector<std::u16string> files;
    };
    static constexpr std::size_t kCheckBatch = 32; // a wanted cell waits at most this many

    bool Take(Request& r);
    bool TakeCheck(CheckBatch& b);
    void CheckDone(const CheckBatch& b, const std::vector<char>& held);
    void Deliver(const Request& r, const QImage& cell);
    bool CheckPending() const; // under m_mu
    void UpdateWorkEvent();    // under m_mu

    Ready m_ready;
    mutable std::mutex m_mu;
    std::vector<std::u16string> m_files;
    bool m_desktopCache = true;
    std::u16string m_placeholder;
    std::deque<int> m_queue;
    std::size_t m_checkNext = 0;
    int m_checked = 0;
    int m_held = 0;
    std::vector<int> m_inFlight;
    std::atomic<int> m_generation{0};
    // Set while requests or checks are waiting (changed under m_mu): idle workers block
    // on it.
    platform::EventHandle m_work;
    std::vector<std::unique_ptr<Worker>> m_workers;
};
