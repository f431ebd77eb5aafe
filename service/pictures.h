// Pictures the service makes: the small ("mobilepic") and large ("bigpic") pictures of every
// stored picture, placeholders for videos and undecodable files, demo pictures and avatars.
// Qt Gui does the decoding, scaling and PNG writing (QImage and QImageReader need no
// QGuiApplication, so the service stays headless).
#pragma once

#include "service/blob_store.h"

#include <QImage>

#include <cstdint>
#include <string>

namespace qumo_service {

constexpr int kSmallSide = 200;
constexpr int kLargeSide = 800;

// A colourful generated picture; the same seed always gives the same pixels.
QImage GeneratedPicture(int width, int height, uint32_t seed);
// A film-strip placeholder for a video.
QImage VideoPlaceholder(int width, int height, uint32_t seed);
// A round-faced avatar.
QImage AvatarPicture(int side, uint32_t seed);

uint32_t SeedFromSha1(const std::string& sha1);

// PNG bytes of an image; empty on failure.
std::string EncodePng(const QImage& img);
// Smoothly scaled so that the longer side is at most maxSide (never enlarges).
QImage ScaleToFit(const QImage& src, int maxSide);

// Makes the small and large pictures of a stored blob once (kept under pics/ by SHA-1):
// real thumbnails of JPEG, PNG, GIF and BMP files within the decoding budget
// (picture_decode.h), a generated placeholder for videos and everything else.
bool MakePicturesFor(const BlobStore& store, const std::string& sha1, bool isVideo);
// Writes the small and large pictures of sha1 from an image already in memory.
bool WritePictures(const BlobStore& store, const std::string& sha1, const QImage& src);

} // namespace qumo_service
