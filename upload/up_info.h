// The upload task record. The same record also describes an entry of a server folder
// listing; the fields after `m_bListed` are used only for such entries.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/codepage.h"

// Copies `src` into a fixed-capacity array, cutting it to capacity - 1 units (never inside a
// surrogate pair).
template <std::size_t N> inline void CopyToFixed(char16_t (&dst)[N], std::u16string_view src) {
    std::size_t n = platform::WholeCharsCut(src, src.size() < N - 1 ? src.size() : N - 1);
    for (std::size_t i = 0; i < n; ++i)
        dst[i] = src[i];
    dst[n] = 0;
}

// A text held as a fixed array of N units would hold it (cut to N - 1 units, never inside a
// surrogate pair), but sized to its content: a queue of a whole photo library must not pay
// for five empty arrays per task.
template <std::size_t N> class CappedText {
public:
    static constexpr std::size_t kCapacity = N;

    CappedText() = default;
    CappedText& operator=(std::u16string_view src) {
        m_text.assign(
            src.substr(0, platform::WholeCharsCut(src, src.size() < N - 1 ? src.size() : N - 1)));
        return *this;
    }
    operator const std::u16string&() const { return m_text; }
    operator std::u16string_view() const { return m_text; }
    const std::u16string& str() const { return m_text; }
    const char16_t* c_str() const { return m_text.c_str(); }
    // Unit `i` of the text; its end reads as 0, as in the array.
    char16_t operator[](std::size_t i) const { return i < m_text.size() ? m_text[i] : 0; }
    bool empty() const { return m_text.empty(); }
    void clear() { m_text.clear(); }

private:
    std::u16string m_text;
};

template <std::size_t N> inline void CopyToFixed(CappedText<N>& dst, std::u16string_view src) {
    dst = src;
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

// The fields of a server folder entry.
struct ServerEntryFields {
    EntryTime m_stTime;
    int32_t m_bIsDir = 0;
    int32_t m_nItemType = -1; // 100 sub-folder, 200 video, else picture
    std::u16string m_tcSource;
    std::u16string m_tcBigPic;
    std::u16string m_tcMobilePic;
    std::u16string m_tcPlayUrl;
};

// Server entry fields copied with their record: absent (read as the defaults) until the
// record is made a server entry.
class ServerEntryBox {
public:
    ServerEntryBox() = default;
    ServerEntryBox(const ServerEntryBox& o)
        : m_fields(o.m_fields ? std::make_unique<ServerEntryFields>(*o.m_fields) : nullptr) {}
    ServerEntryBox(ServerEntryBox&&) noexcept = default;
    ServerEntryBox& operator=(const ServerEntryBox& o) {
        if (this != &o)
            m_fields = o.m_fields ? std::make_unique<ServerEntryFields>(*o.m_fields) : nullptr;
        return *this;
    }
    ServerEntryBox& operator=(ServerEntryBox&&) noexcept = default;

    const ServerEntryFields* operator->() const { return &Get(); }
    const ServerEntryFields& Get() const {
        static const ServerEntryFields kNone;
        return m_fields ? *m_fields : kNone;
    }
    ServerEntryFields& Edit() {
        if (!m_fields)
            m_fields = std::make_unique<ServerEntryFields>();
        return *m_fields;
    }

private:
    std::unique_ptr<ServerEntryFields> m_fields;
};

struct UpInfo {
    int32_t m_nFileType = 4; // 4 for upload tasks, 88 for server entries
    CappedText<24> m_tcExt;
    int64_t m_nFileLen = 0;
    CappedText<32> m_tcVid;
    CappedText<32> m_tsUpID;
    CappedText<64> m_tcSha1;
    CappedText<64> m_tcUploadIp;
    int32_t m_nUploadPort = 80;
    int32_t m_nStatus = 0;
    std::u16string m_strFilePath;
    std::u16string m_strFilePath2;
    std::u16string m_strFileName;
    int32_t m_nNetDirId = -1;
    std::u16string m_strNetDirPath;
    int32_t m_bListed = 0;

    // Server entries only: held apart, so a queued upload task pays one pointer for them.
    ServerEntryBox m_entry;
};
