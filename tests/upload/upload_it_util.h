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

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
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

// One task's element as the list file holds it, before or after its announcement.
inline std::u16string ListElement(const UpInfo& t, bool announced) {
    auto dec = [](long long v) { return platform::FromNarrow(std::to_string(v)); };
    std::u16string upload =
        announced
            ? u"UploadStatus=\"1\" UploadId=\"" + std::u16string(t.m_tsUpID) + u"\" UploadMid=\"" +
                  std::u16string(t.m_tcVid) + u"\" UploadIp=\"" + std::u16string(t.m_tcUploadIp) +
                  u"\" UploadPort=\"" + dec(t.m_nUploadPort) + u"\" "
            : u"UploadStatus=\"0\" UploadId=\"\" UploadMid=\"\" UploadIp=\"\" UploadPort=\"\" ";
    return u"<QumoFileInfo FileName=\"" + t.m_strFileName + u"\" FileAllPath=\"" + t.m_strFilePath +
           u"\" FileExt=\"" + std::u16string(t.m_tcExt) + u"\" FileSize=\"" + dec(t.m_nFileLen) +
           u"\" NetDirId=\"" + dec(t.m_nNetDirId) + u"\" NetDirPath=\"" + t.m_strNetDirPath +
           u"\" " + upload + u"/>";
}

// The whole list file with the user's group holding these elements.
inline std::string ListWith(const std::u16string& uid,
                            const std::vector<std::u16string>& elements) {
    if (elements.empty())
        return ListFileBytes(u"\r\n<QumoUploadList>\r\n\t<UserInfo UserName=\"" + uid +
                             u"\" />\r\n</QumoUploadList>");
    std::u16string text = u"\r\n<QumoUploadList>\r\n\t<UserInfo UserName=\"" + uid + u"\" >";
    for (const std::u16string& e : elements)
        text += u"\r\n\t\t" + e;
    return ListFileBytes(text + u"\r\n\t</UserInfo>\r\n</QumoUploadList>");
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
