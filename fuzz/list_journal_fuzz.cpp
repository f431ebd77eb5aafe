// Feeds arbitrary bytes to the upload list journal's replay, behind a valid header so the
// records themselves are what gets parsed.
#include "upload/upload_list_journal.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const listjournal::FileStamp base{7, 100, 1, 2};
    std::string bytes = listjournal::JournalHeader(base);
    bytes.append(reinterpret_cast<const char*>(data), size);
    bool foreign = false;
    for (const listjournal::Record& r : listjournal::ReplayBytes(bytes, base, &foreign))
        if (r.path.size() > bytes.size())
            __builtin_trap();
    // And the same bytes as a whole journal, header included.
    listjournal::ReplayBytes(std::string(reinterpret_cast<const char*>(data), size), base,
                             &foreign);
    return 0;
}
