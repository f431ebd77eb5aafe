#include "net/http_body_file.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "net/http_message.h"

std::unique_ptr<HttpBodyFile> HttpBodyFile::Create() {
    const char* dir = std::getenv("TMPDIR");
    std::string tmpl = (dir && *dir) ? dir : "/tmp";
    if (tmpl.back() != '/')
        tmpl += '/';
    // The name keeps the first three letters of "QumoHttp", as temporary names always have.
    tmpl += "QumXXXXXX";
    int fd = mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0)
        return nullptr;
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
    if (!m_path.empty())
        unlink(m_path.c_str());
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
