// Helpers of the upload engine's integration tests: local files with fresh content, the
// SHA-1 of a file, tasks and the list file's bytes.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/sha1.h"
#include "platform/codepage.h"
#include "upload/up_info.h"

namespace upload_it {

// A file of `size` bytes no earlier run has made (so the service never has it already).
inline void WriteFreshFile(const std::string& path, int64_t size) {
    static std::mt19937_64 rng(
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    std::vector<uint64_t> block(8192);
    int64_t left = size;
    while (left > 0) {
        for (auto& w : block)
            w = rng();
        int64_t n = std::min<int64_t>(left, static_cast<int64_t>(block.size() * 8));
        f.write(reinterpret_cast<const char*>(block.data()), n);
        left -= n;
    }
}

inline std::string FileSha1(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY);
    Sha1 s;
    std::vector<char> buf(1 << 20);
    ssize_t n;
    while (fd >= 0 && (n = ::read(fd, buf.data(), buf.size())) > 0)
        s.Update(buf.data(), static_cast<size_t>(n));
    if (fd >= 0)
        ::close(fd);
    return s.HexFinal();
}

inline std::string ReadBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

// The list file as the writer makes it: byte order mark, declaration, UTF-16LE text.
inline std::string ListFileBytes(const std::u16string& text) {
    std::string out = "\xFF\xFE";
    for (char16_t c : u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + text) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

inline UpInfo MakeTask(const std::string& path, int folderId = 0) {
    UpInfo t;
    t.m_strFilePath = platform::FromNarrow(path);
    t.m_strFilePath2 = t.m_strFilePath;
    t.m_strFileName = t.m_strFilePath.substr(t.m_strFilePath.rfind(u'/') + 1);
    std::u16string ext = t.m_strFileName.substr(t.m_strFileName.rfind(u'.') + 1);
    CopyToFixed(t.m_tcExt, ext);
    struct stat st {};
    ::stat(path.c_str(), &st);
    t.m_nFileLen = st.st_size;
    t.m_nNetDirId = folderId;
    t.m_strNetDirPath = u"我的酷摩岚";
    return t;
}

inline bool WaitUntil(const std::function<bool()>& cond, int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        if (cond())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return cond();
}

// The SHA-1 the service stored for an entry: its picture locations are named by it.
inline std::string StoredSha1(const char16_t* location) {
    std::string s = platform::ToNarrow(location);
    std::size_t slash = s.rfind('/');
    std::size_t dot = s.rfind('.');
    if (slash == std::string::npos || dot == std::string::npos || dot < slash)
        return {};
    return s.substr(slash + 1, dot - slash - 1);
}

} // namespace upload_it
