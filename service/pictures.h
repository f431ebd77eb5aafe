// Pictures the service makes: the small ("mobilepic") and large ("bigpic") pictures of every
// stored picture, placeholders for videos and undecodable files, demo pictures and avatars.
#pragma once

#include "service/blob_store.h"
#include "service/png.h"

#include <cstdint>
#include <string>

namespace qumo_service {

constexpr int kSmallSide = 200;
constexpr int kLargeSide = 800;

// A colourful generated picture; the same seed always gives the same pixels.
Image GeneratedPicture(int width, int height, uint32_t seed);
// A film-strip placeholder for a video.
Image VideoPlaceholder(int width, int height, uint32_t seed);
// A round-faced avatar.
Image AvatarPicture(int side, uint32_t seed);

uint32_t SeedFromSha1(const std::string& sha1);

// Makes the small and large pictures of a stored blob once (kept under pics/ by SHA-1).
// Pictures that cannot be decoded (and videos) get a generated placeholder.
bool MakePicturesFor(const BlobStore& store, const std::string& sha1, bool isVideo);
// Writes the small and large pictures of sha1 from an image already in memory.
bool WritePictures(const BlobStore& store, const std::string& sha1, const Image& src);

} // namespace qumo_service
