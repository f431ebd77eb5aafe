// Lowercase hex digests of byte strings, on the project's own SHA-1 and MD5.
#pragma once

#include <string>

namespace qumo_service {

std::string Md5HexOf(const std::string& bytes);
std::string Sha1HexOf(const std::string& bytes);

} // namespace qumo_service
