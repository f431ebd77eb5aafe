// Content on disk under the data folder: blobs by SHA-1, upload part files, generated pictures.
#pragma once

#include <cstdint>
#include <string>

namespace qumo_service {

class BlobStore {
public:
    bool Init(const std::string& dataDir, std::string& err);

    std::string BlobPath(const std::string& sha1) const;               // blobs/ab/<sha1>
    std::string PartPath(int64_t upid) const;                          // parts/<upid>.part
    std::string PicturePath(const std::string& sha1, char kind) const; // pics/<sha1>_<s|l>.png
    std::string AvatarPath(int64_t uid) const;                         // avatars/<uid>.png
    const std::string& Root() const { return root_; }

    bool HasBlob(const std::string& sha1) const;
    // Writes a whole file under a temporary name and renames it; durable adds the fsyncs
    // (pictures can be made again, so they skip them).
    bool WriteFileAtomic(const std::string& path, const std::string& bytes,
                         bool durable = true) const;
    bool WriteBlob(const std::string& sha1, const std::string& bytes, bool durable = true) const;
    // Flushes everything written under the data folder (ends a bulk load).
    bool SyncAll() const;
    // Moves a finished part file into the blob store (or drops it when the blob exists).
    bool AdoptPart(int64_t upid, const std::string& sha1) const;

    // The durable length of a part file: its contents are flushed to disk first. 0 if absent.
    int64_t DurablePartLength(int64_t upid) const;
    // Cuts a part file to len bytes and flushes (used to discard or to undo an unsynced tail).
    bool TruncatePart(int64_t upid, int64_t len) const;
    void RemovePart(int64_t upid) const;

private:
    std::string root_;
};

// SHA-1 (lowercase hex) of a whole file, read in chunks; empty when unreadable.
std::string Sha1OfFile(const std::string& path);
bool ReadWholeFile(const std::string& path, std::string& out, size_t maxBytes);
bool IsLowerHex40(const std::string& s);

} // namespace qumo_service
