#include "base/log.h"

#include "base/format.h"
#include "base/log_testing.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/lasterror.h"
#include "platform/paths.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t kMessageCap = 260;    // a program log message keeps 259 units
constexpr std::size_t kTraceLineCap = 2048; // a day-trace line keeps 2047 units
constexpr std::uint64_t kRotateSize = 2 * 1024 * 1024;
constexpr int kRotateEvery = 100;

std::mutex g_registryMu;
std::map<std::u16string, std::u16string> g_registry;

// Serialises every writer: a line is opened, written and closed under it, so two threads
// never have a log file open at once and no line is lost.
std::mutex g_writeMu;
int g_rotationCounter = kRotateEvery;
LogClock (*g_clock)() = nullptr;

LogClock RealClock() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    tm t{};
    ::localtime_r(&ts.tv_sec, &t);
    return {t.tm_year + 1900,
            t.tm_mon + 1,
            t.tm_mday,
            t.tm_hour,
            t.tm_min,
            t.tm_sec,
            static_cast<int>(ts.tv_nsec / 1000000)};
}

LogClock Now() {
    return g_clock ? g_clock() : RealClock();
}

// Logging must not change what the caller reads from the last error or errno afterwards.
class KeepErrors {
public:
    KeepErrors() : m_last(platform::GetLastErrorCode()), m_errno(errno) {}
    ~KeepErrors() {
        platform::SetLastErrorCode(m_last);
        errno = m_errno;
    }

private:
    int m_last;
    int m_errno;
};

bool WriteAll(int fd, const void* data, std::size_t n) {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

void AppendUtf16Le(std::string& out, std::u16string_view text) {
    for (char16_t c : text) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
}

// Rotation with g_writeMu held.
void RotateLocked(const std::u16string& path) {
    if (path.empty())
        return;
    if (g_rotationCounter != kRotateEvery) {
        ++g_rotationCounter;
        return;
    }
    platform::FileAttributes attr;
    if (!platform::GetFileAttributesEx(path, attr) || attr.size <= kRotateSize)
        return;
    if (path.size() < 4)
        return;
    std::u16string rotated = path.substr(0, path.size() - 4) + u".0.log";
    platform::MoveFileReplace(path, rotated);
    g_rotationCounter = 0;
}

void WriteProgramLine(const char16_t* level, const char16_t* fmt, va_list ap) {
    if (!fmt)
        return;
    KeepErrors keep;
    char16_t message[kMessageCap];
    std::size_t messageLen = FormatToBufferV(message, kMessageCap, fmt, ap);
    std::u16string path = LogFilePath(u"QumoClient");

    std::lock_guard<std::mutex> lock(g_writeMu);
    RotateLocked(path);
    int fd = ::open(platform::ToNarrow(path).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return; // no log folder, or no right to write: the line is dropped
    struct stat st {};
    std::string bytes;
    if (::fstat(fd, &st) == 0 && st.st_size == 0)
        bytes += "\xFF\xFE";
    LogClock t = Now();
    char16_t header[128];
    std::size_t headerLen = FormatToBuffer(header, sizeof header / sizeof header[0],
                                           u"%04d-%02d-%02d %02d:%02d:%02d [%s] - ", t.year,
                                           t.month, t.day, t.hour, t.minute, t.second, level);
    AppendUtf16Le(bytes, std::u16string_view(header, headerLen));
    AppendUtf16Le(bytes, std::u16string_view(message, messageLen));
    AppendUtf16Le(bytes, u"\r\n");
    if (::lseek(fd, 0, SEEK_END) >= 0)
        WriteAll(fd, bytes.data(), bytes.size());
    ::close(fd);
}

} // namespace

std::u16string LogFilePath(const char16_t* name) {
    if (!name)
        return {};
    std::lock_guard<std::mutex> lock(g_registryMu);
    auto it = g_registry.find(name);
    if (it != g_registry.end())
        return it->second;
    // An unknown program folder gives "" and so the root's log folder, the way an
    // unreadable module name falls back to the root of the system drive. The path is kept
    // whole however long it is: a cut path would name some other file.
    std::u16string path =
        FormatText(u"%s/%s/%s.log", platform::ModuleFolder().c_str(), u"log", name);
    g_registry.emplace(name, path);
    return path;
}

void RotateIfLarge(const std::u16string& path) {
    KeepErrors keep;
    std::lock_guard<std::mutex> lock(g_writeMu);
    RotateLocked(path);
}

void LogInfo(const char16_t* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    WriteProgramLine(u"INFO", fmt, ap);
    va_end(ap);
}

void LogError(const char16_t* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    WriteProgramLine(u"ERROR", fmt, ap);
    va_end(ap);
}

int DayTrace(const char16_t* fmt, ...) {
    if (!fmt)
        return 0;
    KeepErrors keep;
    std::lock_guard<std::mutex> lock(g_writeMu);
    LogClock t = Now();
    char16_t buf[kTraceLineCap];
    std::size_t n =
        FormatToBuffer(buf, kTraceLineCap, u"%04d-%02d-%02d %02d:%02d:%02d:%04d ", t.year, t.month,
                       t.day, t.hour, t.minute, t.second, t.millisecond);
    va_list ap;
    va_start(ap, fmt);
    n += FormatToBufferV(buf + n, kTraceLineCap - n, fmt, ap);
    va_end(ap);
    // The line break goes after the cut line rather than into the last two units of the
    // buffer, so a full line still ends with one.
    std::u16string line(buf, n);
    if (line.empty() || line.back() != u'\n')
        line += u"\r\n";

    std::u16string path = FormatText(u"%s/%s/%04d-%02d-%02d.log", platform::ModuleFolder().c_str(),
                                     u"log", t.year, t.month, t.day);
    std::string narrow = platform::ToNarrow(line);
    int fd =
        ::open(platform::ToNarrow(path).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd >= 0) {
        WriteAll(fd, narrow.data(), narrow.size());
        ::close(fd);
    }
    std::fwrite(narrow.data(), 1, narrow.size(), stderr);
    std::fflush(stderr);
    return 1;
}

void ResetLogForTesting() {
    {
        std::lock_guard<std::mutex> lock(g_registryMu);
        g_registry.clear();
    }
    std::lock_guard<std::mutex> lock(g_writeMu);
    g_rotationCounter = kRotateEvery;
    g_clock = nullptr;
}

int LogRotationCounterForTesting() {
    std::lock_guard<std::mutex> lock(g_writeMu);
    return g_rotationCounter;
}

void SetLogRotationCounterForTesting(int value) {
    std::lock_guard<std::mutex> lock(g_writeMu);
    g_rotationCounter = value;
}

void SetLogClockForTesting(LogClock (*now)()) {
    std::lock_guard<std::mutex> lock(g_writeMu);
    g_clock = now;
}
