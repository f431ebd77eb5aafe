// Feeds arbitrary bytes to the digest cache as its file, once as they are and once behind a
// valid header so the records themselves are what gets parsed; then looks a key up.
#include "upload/digest_cache.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string raw(reinterpret_cast<const char*>(data), size);
    bool damaged = false;
    if (digestcache::ParseBytes(raw, 8, &damaged).size() > 8)
        __builtin_trap();
    const std::string bytes = digestcache::Header() + raw;
    digestcache::Cache cache(u"", 4);
    cache.LoadBytesForTesting(bytes);
    if (cache.Size() > 4)
        __builtin_trap();
    digestcache::Key key;
    std::u16string digest;
    if (cache.Lookup(key, digest) && digest.size() != 40)
        __builtin_trap();
    return 0;
}
