#include "upload/transfer_stats.h"

#include <algorithm>
#include <cmath>

#include "upload/upload_list_cache.h"
#include "upload/upload_protocol.h"

namespace {

using Guard = std::lock_guard<std::mutex>;

} // namespace

TransferStats& UploadStats() {
    static TransferStats stats;
    return stats;
}

uint64_t TransferStats::Key(const std::u16string& path) {
    return std::hash<std::u16string>{}(ListPathKey(path));
}

TransferStats::End TransferStats::EndOfResult(int uploadResult) {
    switch (uploadResult) {
    case kUploadDone:
        return End::Done;
    case kUploadInstant:
        return End::Instant;
    case kUploadPaused:
        return End::Paused;
    case kUploadNoSpace:
    case kUploadUnreadable:
    case kUploadRefused:
        return End::Failed;
    default:
        return End::Retry;
    }
}

double TransferStats::Smooth(double old, double instant) {
    // The average alone lets a burst after a quiet second jump by far more than twice;
    // the clamp keeps the shown figure calm, the next seconds catch up.
    const double ema = kSmoothing * instant + (1 - kSmoothing) * old;
    return std::clamp(ema, old / 2, old * 2);
}

void TransferStats::Account(const File& f, int sign) {
    const auto add = [sign](auto& total, auto value) {
        total = sign > 0 ? total + value : total - value;
    };
    add(m_totals.files, 1);
    add(m_totals.bytes, f.size);
    switch (f.state) {
    case State::Open:
        add(m_totals.open, 1);
        break;
    case State::Paused:
        add(m_totals.paused, 1);
        break;
    case State::Done:
        add(m_totals.done, 1);
        break;
    case State::Failed:
        add(m_totals.failed, 1);
        break;
    }
    add(m_totals.bytesDone, f.state == State::Done ? f.size : std::min(f.position, f.size));
}

TransferStats::File& TransferStats::Find(const std::u16string& path, uint64_t size) {
    auto [it, added] = m_files.try_emplace(Key(path));
    if (added) {
        it->second.size = size;
        Account(it->second, +1);
    }
    return it->second;
}

void TransferStats::SetState(File& f, State state) {
    Account(f, -1);
    f.state = state;
    Account(f, +1);
}

void TransferStats::Queued(const std::u16string& path, uint64_t size) {
    Guard g(m_lock);
    File& f = Find(path, size);
    Account(f, -1);
    f.size = size;
    f.state = State::Open;
    Account(f, +1);
}

void TransferStats::Moved(uint64_t key, File& f, const std::u16string* path, uint64_t n,
                          uint64_t position, uint64_t size) {
    Account(f, -1);
    f.size = size;
    f.position = position;
    f.state = State::Open;
    Account(f, +1);
    m_sinceSample += n;
    auto [it, added] = m_sending.try_emplace(key);
    if (added) {
        if (path) {
            it->second.path = *path;
        } else if (auto t = m_tracked.find(key); t != m_tracked.end()) {
            it->second.path = t->second;
        }
    }
    it->second.sinceSample += n;
}

void TransferStats::BytesSent(const std::u16string& path, uint64_t n, uint64_t position,
                              uint64_t size) {
    Guard g(m_lock);
    const uint64_t key = Key(path);
    Moved(key, Find(path, size), &path, n, position, size);
}

TransferStats::Handle TransferStats::Track(const std::u16string& path) {
    Guard g(m_lock);
    const uint64_t key = Key(path);
    if (m_files.count(key)) {
        m_tracked.try_emplace(key, path);
    }
    return Handle{key};
}

void TransferStats::BytesSent(Handle h, uint64_t n, uint64_t position, uint64_t size) {
    Guard g(m_lock);
    auto it = m_files.find(h.key);
    if (it == m_files.end()) {
        return;
    }
    Moved(h.key, it->second, nullptr, n, position, size);
}

void TransferStats::Ended(const std::u16string& path, End how) {
    Guard g(m_lock);
    const uint64_t key = Key(path);
    auto it = m_files.find(key);
    if (it == m_files.end()) {
        return; // never queued here (a task the engine found on its own): nothing to count
    }
    m_sending.erase(key);
    m_tracked.erase(key);
    File& f = it->second;
    switch (how) {
    case End::Done:
    case End::Instant:
        SetState(f, State::Done);
        break;
    case End::Failed:
        SetState(f, State::Failed);
        break;
    case End::Paused:
        SetState(f, State::Paused);
        break;
    case End::Retry:
        break;
    case End::Removed:
        Account(f, -1);
        m_files.erase(it);
        break;
    }
}

void TransferStats::PauseAll() {
    Guard g(m_lock);
    for (auto& [key, f] : m_files) {
        if (f.state == State::Open) {
            SetState(f, State::Paused);
        }
    }
    m_sending.clear();
}

void TransferStats::ServiceAnswered(bool answered) {
    Guard g(m_lock);
    m_unreachable = !answered;
}

void TransferStats::Reset() {
    Guard g(m_lock);
    m_unreachable = false;
    m_files.clear();
    m_sending.clear();
    m_tracked.clear();
    m_totals = {};
    m_sinceSample = 0;
    m_lastSampleMs = -1;
    m_lastBytesMs = -1;
    m_speed = 0;
    m_hasSpeed = false;
    m_stalled = false;
}

void TransferStats::Sample(int64_t nowMs) {
    Guard g(m_lock);
    const int64_t dt = m_lastSampleMs < 0 ? 0 : nowMs - m_lastSampleMs;
    if (m_lastSampleMs >= 0 && dt <= 0) {
        return;
    }
    m_lastSampleMs = nowMs;
    const uint64_t bytes = m_sinceSample;
    m_sinceSample = 0;
    // A sample after a long gap (the first one, or the machine was asleep) measures
    // nothing a speed could be made of: the speeds start afresh from the next second.
    const bool gap = dt > kStallMs;
    if (gap) {
        m_hasSpeed = false;
        m_speed = 0;
    }

    // Per file: the rows being sent show their own speed.
    for (auto it = m_sending.begin(); it != m_sending.end();) {
        Sending& f = it->second;
        const uint64_t got = f.sinceSample;
        f.sinceSample = 0;
        if (got > 0) {
            f.lastBytesMs = nowMs;
        }
        if (gap) {
            f.hasSpeed = false;
            f.speed = 0;
        } else if (dt > 0 && (got > 0 || f.hasSpeed)) {
            const double instant = static_cast<double>(got) * 1000.0 / static_cast<double>(dt);
            f.speed = f.hasSpeed ? Smooth(f.speed, instant) : instant;
            f.hasSpeed = true;
        }
        if (f.lastBytesMs >= 0 && nowMs - f.lastBytesMs >= kStallMs) {
            f.hasSpeed = false;
            f.speed = 0;
            it = m_sending.erase(it);
        } else {
            ++it;
        }
    }

    if (m_totals.open == 0) {
        m_lastBytesMs = -1;
        m_hasSpeed = false;
        m_speed = 0;
        m_stalled = false;
        return;
    }
    if (bytes > 0 || m_lastBytesMs < 0) {
        // Bytes moved, or open work just began: the stall clock starts here.
        m_lastBytesMs = nowMs;
    }
    m_stalled = nowMs - m_lastBytesMs >= kStallMs;
    if (m_stalled) {
        // After a stall the speed starts afresh from what then moves, not from the old one.
        m_hasSpeed = false;
        m_speed = 0;
        return;
    }
    if (!gap && dt > 0 && (bytes > 0 || m_hasSpeed)) {
        const double instant = static_cast<double>(bytes) * 1000.0 / static_cast<double>(dt);
        m_speed = m_hasSpeed ? Smooth(m_speed, instant) : instant;
        m_hasSpeed = true;
    }
}

TransferStats::Figures TransferStats::Snapshot() const {
    Guard g(m_lock);
    return SnapshotLocked();
}

TransferStats::Figures TransferStats::SnapshotLocked() const {
    Figures out;
    out.filesTotal = m_totals.files;
    out.filesDone = m_totals.done;
    out.filesFailed = m_totals.failed;
    out.bytesTotal = m_totals.bytes;
    out.bytesDone = std::min(m_totals.bytesDone, m_totals.bytes);
    out.stalled = m_stalled && m_totals.open > 0;
    out.unreachable = m_unreachable && m_totals.open > 0;
    out.paused = m_totals.open == 0 && m_totals.paused > 0;
    out.hasSpeed = m_hasSpeed && !out.stalled && m_totals.open > 0;
    out.bytesPerSec = out.hasSpeed ? m_speed : 0;
    if (out.hasSpeed && m_speed >= 1.0) {
        const double left = static_cast<double>(out.bytesTotal - out.bytesDone) / m_speed;
        out.secondsLeft = static_cast<int64_t>(std::ceil(left));
    }
    return out;
}

double TransferStats::FileSpeed(const std::u16string& path) const {
    Guard g(m_lock);
    auto it = m_sending.find(Key(path));
    return it != m_sending.end() && it->second.hasSpeed ? it->second.speed : 0;
}

std::vector<std::pair<std::u16string, double>> TransferStats::FileSpeeds() const {
    Guard g(m_lock);
    std::vector<std::pair<std::u16string, double>> speeds;
    for (const auto& [key, f] : m_sending) {
        if (f.hasSpeed) {
            speeds.emplace_back(f.path, f.speed);
        }
    }
    return speeds;
}

bool TransferStats::TakeFinishedBatch(Figures& out) {
    Guard g(m_lock);
    if (m_totals.files == 0 || m_totals.open > 0 || m_totals.paused > 0 ||
        m_totals.done + m_totals.failed == 0) {
        return false;
    }
    out = SnapshotLocked();
    m_files.clear();
    m_sending.clear();
    m_tracked.clear();
    m_totals = {};
    m_hasSpeed = false;
    m_speed = 0;
    m_stalled = false;
    m_lastBytesMs = -1;
    return true;
}
