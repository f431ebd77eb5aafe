#include "serverdir/server_file_record.h"

#include <cstdint>
#include <ctime>

#include "net/api_answer.h"
#include "platform/codepage.h"

namespace {

constexpr std::size_t kNameCap = 520;

} // namespace

EntryTime EntryTimeFromSeconds(int64_t seconds) {
    EntryTime t;
    std::tm tm{};
    const std::time_t when = static_cast<std::time_t>(seconds);
    if (seconds < 0 || !localtime_r(&when, &tm) || tm.tm_year + 1900 > 0xFFFF) {
        t.wHour = t.wMinute = t.wSecond = 255;
        return t;
    }
    t.wYear = static_cast<uint16_t>(tm.tm_year + 1900);
    t.wMonth = static_cast<uint8_t>(tm.tm_mon + 1);
    t.wDay = static_cast<uint8_t>(tm.tm_mday);
    t.wHour = static_cast<uint8_t>(tm.tm_hour);
    t.wMinute = static_cast<uint8_t>(tm.tm_min);
    t.wSecond = static_cast<uint8_t>(tm.tm_sec);
    t.wDayOfWeek = static_cast<uint8_t>(tm.tm_wday);
    return t;
}

UpInfo MakeServerFileRecord(const ServerFileEntry& e) {
    UpInfo r;
    ServerEntryFields& f = r.m_entry.Edit();
    f.m_stTime = EntryTimeFromSeconds(e.timestamp);
    f.m_bIsDir = e.type == kItemTypeFolder ? 1 : 0;
    r.m_nFileType = kServerEntryFileType;
    r.m_strFileName = e.name.substr(0, kNameCap - 1);
    CopyToFixed(r.m_tcVid, e.id);
    f.m_nItemType = e.type;
    r.m_nNetDirId = e.dirid;
    if (e.type == kItemTypeFolder)
        return r;
    r.m_nFileLen =
        e.size > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(e.size);
    CopyToFixed(r.m_tcExt, e.suffix);
    CopyCapped(f.m_tcSource, e.source, kServerAddressCapacity);
    CopyCapped(f.m_tcBigPic, e.bigpic, kServerAddressCapacity);
    CopyCapped(f.m_tcMobilePic, e.mobilepic, kServerAddressCapacity);
    if (e.type == kItemTypeVideo)
        CopyCapped(f.m_tcPlayUrl, e.playurl, kServerAddressCapacity);
    return r;
}

int ServerRecordId(const UpInfo& record) {
    return api_json::AtoiText(platform::ToNarrow(record.m_tcVid));
}
