// The desktop's shared thumbnail cache, as the freedesktop.org thumbnail standard lays it
// out: $XDG_CACHE_HOME/thumbnails/large/<MD5 of the file URI>.png, pictures of at most
// 256 x 256 that name their file (Thumb::URI) and its modification time (Thumb::MTime).
// The file manager and we read each other's entries.
#pragma once

#include <QImage>
#include <QString>

#include "media/thumbnail.h"

namespace thumbcache {

inline constexpr int kLargeSize = 256;

// $XDG_CACHE_HOME/thumbnails/large ($HOME/.cache when XDG_CACHE_HOME is unset or relative).
QString LargeDir();
// The file's URI as the standard spells it: file:// and the percent-encoded absolute path.
QByteArray FileUri(const QString& file);
// Where the entry of `file` lives.
QString EntryPath(const QString& file);
// Whether `file` lies inside the thumbnail cache (such files get no entry of their own).
bool IsInsideCache(const QString& file);

// The cached picture of `file`: null when there is no entry, or it is corrupt, too big,
// names another file, or is older than the file (the entry is then to be written anew).
Picture Load(const QString& file);
// Whether the cache holds an entry of `file` as it is now, judged from the texts at the
// entry's head without decoding it (an entry whose texts come after its picture counts;
// Load decides). Cheap enough to ask for every file of a large folder.
bool Holds(const QString& file);
// Writes the entry of `file` atomically (a temporary file renamed over the old entry),
// readable by its owner only. False when it could not be written or `file` is inside the
// cache.
bool Store(const QString& file, const Picture& picture);

} // namespace thumbcache
