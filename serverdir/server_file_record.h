// The record of one entry of a server folder listing: an upload task record (UpInfo) with
// the fields used only for server entries filled in.
#pragma once

#include <cstdint>
#include <string>

#include "net/api_calls.h"
#include "upload/up_info.h"

// Marks a record that describes a server entry.
inline constexpr int32_t kServerEntryFileType = 88;
inline constexpr int kItemTypeFolder = 100;
inline constexpr int kItemTypeVideo = 200;

// Seconds since 1970 as local date and time. A time that cannot be converted (negative,
// or beyond the 16-bit year) gives 0 for year, month, day and day of week and 255 for
// hour, minute and second.
EntryTime EntryTimeFromSeconds(int64_t seconds);

// The record of one file list entry. The name is kept to 519 units, like the other text
// fields it is cut to its capacity.
UpInfo MakeServerFileRecord(const ServerFileEntry& entry);

// The record's server id read with the atoi rules (the next page starts after it).
int ServerRecordId(const UpInfo& record);
