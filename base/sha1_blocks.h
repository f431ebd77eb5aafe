// The SHA-1 block functions behind Sha1; internal to the digest code and its tests.
#pragma once

#include <cstddef>
#include <cstdint>

// Both run `count` 64-byte blocks through the compression function, updating `state`.
void Sha1BlocksPortable(uint32_t state[5], const uint8_t* blocks, size_t count);
void Sha1BlocksShaNi(uint32_t state[5], const uint8_t* blocks, size_t count);

// True when this processor has the instructions Sha1BlocksShaNi needs.
bool Sha1ShaNiAvailable();

// True when a Sha1 made now would use the SHA instructions.
bool Sha1UsesShaNi();
