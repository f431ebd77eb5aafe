// The upload task record. The same record also describes an entry of a server folder
// listing; the fields after `m_bListed` are used only for such entries.
#pragma once

#include <cstdint>
#include <string>

// Copies `src` into a fixed-capacity array, cutting it to capacity - 1 units.
template <std::size_t N> inline void CopyToFixed(char16_t (&dst)[N], std::u16string_view src) {
    std::size_t n = src.size() < N - 1 ? src.size() : N - 1;
    for (std::size_t i = 0; i < n; ++i)
        dst[i] = src[i];
    dst[n] = 0;
}

// Date and time of a server entry, broken down as the listing shows it.
struct EntryTime {
    uint16_t wYear = 0;
    uint8_t wMonth = 0;
    uint8_t wDay = 0;
    uint8_t wHour = 0;
    uint8_t wMinute = 0;
    uint8_t wSecond = 0;
    uint8_t wDayOfWeek = 0;
};

// Copies `src` into `dst`, cut to capacity - 1 units as CopyToFixed cuts a fixed array.
inline void CopyCapped(std::u16string& dst, std::u16string_view src, std::size_t capacity) {
    dst.assign(src.substr(0, src.size() < capacity - 1 ? src.size() : capacity - 1));
}

// The longest server address a record keeps (in units, with the end of the text).
inline constexpr std::size_t kServerAddressCapacity = 520;

struct UpInfo {
    int32_t m_nFileType = 4; // 4 for upload tasks, 88 for server entries
    char16_t m_tcExt[24] = {};
    int64_t m_nFileLen = 0;
    char16_t m_tcVid[32] = {};
    char16_t m_tsUpID[32] = {};
    char16_t m_tcSha1[64] = {};
    char16_t m_tcUploadIp[64] = {};
    int32_t m_nUploadPort = 80;
    int32_t m_nStatus = 0;
    std::u16string m_strFilePath;
    std::u16string m_strFilePath2;
    std::u16string m_strFileName;
    int32_t m_nNetDirId = -1;
    std::u16string m_strNetDirPath;
    int32_t m_bListed = 0;

    // Server entries only.
    EntryTime m_stTime;
    int32_t m_bIsDir = 0;
    int32_t m_nItemType = -1; // 100 sub-folder, 200 video, else picture
    // Sized to their content: a queued upload task carries them empty, and a queue of a
    // whole photo library must not pay for four addresses per task.
    std::u16string m_tcSource;
    std::u16string m_tcBigPic;
    std::u16string m_tcMobilePic;
    std::u16string m_tcPlayUrl;
};
