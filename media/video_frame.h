// A picture of a video for its thumbnail: a frame a little into the video (past a black
// fade-in), decoded with the FFmpeg libraries.
#pragma once

#include <QSize>
#include <functional>
#include <string>

#include "media/thumbnail.h"

// Decodes one frame of `path` about a tenth into the video (at most kVideoFrameSeconds in)
// and fits it into `box`. Gives up, with a null picture, on anything it cannot decode, on
// frames of more than kMaxDecodePixels, after `budgetMs` milliseconds, or as soon as
// `stopped` (may be empty) returns true.
Picture VideoFramePicture(const std::u16string& path, QSize box, int budgetMs,
                          const std::function<bool()>& stopped);
inline constexpr int kVideoFrameSeconds = 3;
