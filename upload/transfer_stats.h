// The figures behind the progress line: files done of the batch, bytes sent of its total,
// a smoothed speed and the time left, per-file speeds of the files being sent, and the end
// of a batch (for the one notification). The engine feeds it byte counts and task ends
// from its threads; the window samples it once a second. It never reads a clock: every
// time is passed in, so recorded byte counts give the same figures as a real upload.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

class TransferStats {
public:
    // How a file's attempt ended, as the engine and the window report it.
    enum class End {
        Done,    // sent and confirmed
        Instant, // the service already held it: done, but no bytes moved
        Failed,  // cannot go on until the user acts (file gone, no space)
        Retry,   // the attempt failed; the engine tries again later
        Paused,  // paused by the user
        Removed, // cancelled: leaves the batch
    };

    struct Figures {
        int filesDone = 0;  // done or instant
        int filesTotal = 0; // every file of the batch that was not removed
        int filesFailed = 0;
        uint64_t bytesDone = 0;
        uint64_t bytesTotal = 0;
        bool hasSpeed = false;
        double bytesPerSec = 0;   // smoothed; meaningful with hasSpeed
        int64_t secondsLeft = -1; // -1 while unknown
        bool stalled = false;     // work is open but no byte moved for kStallMs
        bool unreachable = false; // work is open and the service's last call got no answer
        bool paused = false;      // nothing is open but files are paused
        bool Active() const { return filesTotal > filesDone + filesFailed; }
    };

    // No byte for this long while files are open is a stall (back-off, no network).
    static constexpr int64_t kStallMs = 5000;
    // Weight of the newest second in the moving average.
    static constexpr double kSmoothing = 0.3;

    // The window queued a file of `size` bytes (again, after a resume: it reopens).
    void Queued(const std::u16string& path, uint64_t size);
    // The send loop got `n` more bytes of the file out; `position` is where the file now
    // stands (a resumed transfer starts past what an earlier run sent), `size` its length.
    void BytesSent(const std::u16string& path, uint64_t n, uint64_t position, uint64_t size);
    // A transfer's hold on its file's figures: taken once per attempt, so the send loop pays
    // no path hashing or allocation per chunk. Bytes sent through it after the file left the
    // figures (cancelled) are not counted and never bring the file back.
    struct Handle {
        uint64_t key = 0;
    };
    Handle Track(const std::u16string& path);
    void BytesSent(Handle h, uint64_t n, uint64_t position, uint64_t size);
    void Ended(const std::u16string& path, End how);
    // The engine's result code of one attempt (upload_protocol.h) as an end.
    static End EndOfResult(int uploadResult);
    // A call of the engine to the service got an answer (any answer, a refusal too) or none
    // (no connection, a time-out): whether the network is what holds the work up.
    void ServiceAnswered(bool answered);
    // Every open file is paused (pause all, or the service is out of space).
    void PauseAll();
    // Forgets everything (logout).
    void Reset();

    // Once a second from the window: turns the bytes since the last sample into speeds.
    void Sample(int64_t nowMs);
    // The figures of the last sample with the current counts. Any thread.
    Figures Snapshot() const;
    // Smoothed speed of one file being sent; 0 for any other.
    double FileSpeed(const std::u16string& path) const;
    // The files being sent that have a speed now: path and smoothed speed.
    std::vector<std::pair<std::u16string, double>> FileSpeeds() const;
    // True once when the batch has ended (nothing open or paused and something done or
    // failed) with its figures; the next queued file starts a new batch.
    bool TakeFinishedBatch(Figures& out);

private:
    enum class State : uint8_t { Open, Paused, Done, Failed };
    // Every file of the batch: what its share of the totals needs, no more, since a batch is
    // a whole photo library.
    struct File {
        uint64_t size = 0;
        uint64_t position = 0;
        State state = State::Open;
    };
    // A file that moved bytes lately: its path and speed, for its row.
    struct Sending {
        std::u16string path;
        uint64_t sinceSample = 0;
        int64_t lastBytesMs = -1;
        double speed = 0;
        bool hasSpeed = false;
    };
    // Running totals, so a batch of 100,000 files costs nothing per sample or summary.
    struct Totals {
        int files = 0, done = 0, failed = 0, open = 0, paused = 0;
        uint64_t bytes = 0, bytesDone = 0;
    };
    // Files are known by the hash of their path key, not a copy of every path: a batch is a
    // whole photo library, and two paths sharing a hash would only share their figures.
    static uint64_t Key(const std::u16string& path);
    // The file under `path`, added open with `size` when it is new.
    File& Find(const std::u16string& path, uint64_t size);
    // Adds (+1) or takes out (-1) one file's share of the totals.
    void Account(const File& f, int sign);
    void SetState(File& f, State state);
    Figures SnapshotLocked() const;
    static double Smooth(double old, double instant);

    void Moved(uint64_t key, File& f, const std::u16string* path, uint64_t n, uint64_t position,
               uint64_t size);

    mutable std::mutex m_lock;
    std::unordered_map<uint64_t, File> m_files;
    std::map<uint64_t, Sending> m_sending;
    // The paths of the files whose transfers hold a handle, until they end: the only paths
    // the figures keep.
    std::unordered_map<uint64_t, std::u16string> m_tracked;
    Totals m_totals;
    uint64_t m_sinceSample = 0;
    int64_t m_lastSampleMs = -1;
    int64_t m_lastBytesMs = -1;
    double m_speed = 0;
    bool m_hasSpeed = false;
    bool m_stalled = false;
    bool m_unreachable = false;
};

// The one object the upload engine and the window share.
TransferStats& UploadStats();
