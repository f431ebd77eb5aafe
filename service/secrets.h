// Unguessable values: capabilities in addresses, upload ids, the admin secret.
#pragma once

#include <cstdint>
#include <string>

namespace qumo_service {

// Lowercase hex of `bytes` random bytes from the kernel; empty if none could be had.
std::string RandomHex(size_t bytes);
// A random id in 1 .. 2^31-1: the client reads upload ids as signed 32-bit integers.
int64_t RandomId31();
// Compares without an early exit, so the time taken tells nothing about a secret.
bool SameSecret(const std::string& a, const std::string& b);

// Capabilities are 128 random bits written as 32 hex digits.
constexpr size_t kCapBytes = 16;
bool IsCap(const std::string& s);

} // namespace qumo_service
