#include "service/digest.h"

#include "base/md5.h"
#include "base/sha1.h"

namespace qumo_service {

std::string Md5HexOf(const std::string& bytes) {
    return Md5Hex(bytes.data(), bytes.size());
}

std::string Sha1HexOf(const std::string& bytes) {
    return Sha1Hex(bytes.data(), bytes.size());
}

} // namespace qumo_service
