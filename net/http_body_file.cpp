#include "net/http_body_file.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "net/http_message.h"

namespace {

std::string TemporaryFolder() {
    const char* dir = std::getenv("TMPDIR");
    std::string folder = (dir && *dir) ? dir : "/tmp";
    if (folder.back() != '/')
        folder += '/';
    return folder;
}

// The name keeps the first three letters of "QumoHttp", as temporary names always have.
constexpr char kPrefix[] = "Qum";

} // namespace

std::unique_ptr<HttpBodyFile> HttpBodyFile::Create() {
    std::string tmpl = TemporaryFolder() + kPrefix + "XXXXXX";
    int fd = mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    // Unnamed at once: the space goes back with the last descriptor, however the process ends.
    unlink(tmpl.c_str());
    std::unique_ptr<HttpBodyFile> f(new HttpBodyFile());
    f->m_path = tmpl;
    f->m_fd = fd;
    return f;
}

HttpBodyFile::~HttpBodyFile() {
    if (m_view)
        munmap(m_view, m_mapped);
    if (m_fd >= 0)
        close(m_fd);
}

int RemoveLeftBodyFiles() {
    const std::string folder = TemporaryFolder();
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return 0;
    int removed = 0;
    while (const dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        // Exactly the names mkostemp made from our pattern.
        if (name.size() != sizeof kPrefix - 1 + 6 || name.compare(0, sizeof kPrefix - 1, kPrefix))
            continue;
        if (name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
                                   sizeof kPrefix - 1) != std::string::npos)
            continue;
        const std::string path = folder + name;
        struct stat st;
        if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == getuid() &&
            unlink(path.c_str()) == 0)
            ++removed;
    }
    closedir(dir);
    return removed;
}

bool HttpBodyFile::Append(const char* data, std::size_t n) {
    if (m_fd < 0 || m_view)
        return false;
    while (n > 0) {
        ssize_t w = write(m_fd, data, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        data += w;
        n -= static_cast<std::size_t>(w);
        m_size += static_cast<std::size_t>(w);
    }
    return true;
}

bool HttpBodyFile::Map() {
    if (m_view)
        return true;
    if (m_fd < 0 || m_size == 0)
        return false;
    void* p = mmap(nullptr, m_size, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, 0);
    if (p == MAP_FAILED)
        return false;
    m_view = static_cast<char*>(p);
    m_mapped = m_size;
    return true;
}

bool HttpBodySink::Append(const char* data, std::size_t n) {
    if (m_failed)
        return false;
    if (n == 0)
        return true;
    if (!m_file && m_mem.size() + n <= m_limit) {
        m_mem.append(data, n);
        m_size += n;
        return true;
    }
    if (!m_file) {
        m_file = HttpBodyFile::Create();
        if (!m_file || !m_file->Append(m_mem.data(), m_mem.size())) {
            m_failed = true;
            m_file.reset();
            m_mem.clear();
            return false;
        }
        m_mem.clear();
        m_mem.shrink_to_fit();
    }
    if (!m_file->Append(data, n)) {
        m_failed = true;
        m_file.reset();
        return false;
    }
    m_size += n;
    return true;
}

bool HttpBodySink::AttachTo(HttpMessage& msg) {
    if (m_failed)
        return false;
    if (!m_file) {
        msg.SetBody(std::move(m_mem));
        return true;
    }
    if (m_size == 0) {
        m_file.reset();
        msg.SetBody({});
        return true;
    }
    if (!m_file->Map())
        return false;
    msg.SetBodyFile(std::move(m_file));
    return true;
}
