// Storage of one response body.
//
// A body reaches the caller as one contiguous block. Large bodies never pile up in memory:
// past a limit they go to a temporary file in the user's temporary folder that is mapped
// once when the body is complete. The file's name is removed as soon as it is made, so
// nothing is left behind even when the process is killed.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

class HttpBodyFile {
public:
    // A new empty, already unnamed file made as "Qum..." in the temporary folder ($TMPDIR,
    // else /tmp); nullptr when it cannot be created.
    static std::unique_ptr<HttpBodyFile> Create();
    ~HttpBodyFile(); // unmaps and closes the file, which frees its space

    HttpBodyFile(const HttpBodyFile&) = delete;
    HttpBodyFile& operator=(const HttpBodyFile&) = delete;

    // Appends bytes; false when the disk refuses them (the file is then unusable).
    bool Append(const char* data, std::size_t n);
    // Maps the whole file read-write; false when it cannot (or is empty). Done once.
    bool Map();

    const char* Data() const { return m_view; }
    std::size_t Size() const { return m_size; }
    // The name the file was made under (no longer in the folder).
    const std::string& Path() const { return m_path; }

private:
    HttpBodyFile() = default;
    std::string m_path;
    int m_fd = -1;
    std::size_t m_size = 0;
    char* m_view = nullptr;
    std::size_t m_mapped = 0;
};

// Removes the body files that earlier runs, killed while they held them, left in the
// temporary folder (before bodies were unnamed at once). Called at start-up; returns how
// many went.
int RemoveLeftBodyFiles();

class HttpMessage;

// Collects body bytes in memory up to `memoryLimit`, then in an HttpBodyFile.
class HttpBodySink {
public:
    explicit HttpBodySink(std::size_t memoryLimit) : m_limit(memoryLimit) {}
    // False when the bytes could not be stored (file not creatable or disk full); the
    // sink is then failed and drops everything.
    bool Append(const char* data, std::size_t n);
    std::size_t Size() const { return m_size; }
    bool Failed() const { return m_failed; }
    // Hands the body to `msg` (an empty body leaves it empty). False when a file body
    // cannot be mapped.
    bool AttachTo(HttpMessage& msg);

private:
    std::size_t m_limit;
    std::size_t m_size = 0;
    bool m_failed = false;
    std::string m_mem;
    std::unique_ptr<HttpBodyFile> m_file;
};
