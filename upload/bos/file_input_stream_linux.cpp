#include "upload/bos/stream.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bos {

FileInputStream::FileInputStream(FileHandle handle, int64_t start, int64_t size, bool own)
    : m_handle(own ? handle : (handle >= 0 ? ::fcntl(handle, F_DUPFD_CLOEXEC, 0) : -1))
    , m_start(start < 0 ? 0 : start)
{
    m_position = m_start;
    if (m_handle < 0) {
        m_last_error = handle < 0 ? EBADF : errno;
        return;
    }
    struct stat info = {};
    if (::fstat(m_handle, &info) != 0) {
        m_last_error = errno;
        return;
    }
    if (!S_ISREG(info.st_mode)) {
        m_last_error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        return;
    }
    const int64_t available = info.st_size > m_start ? int64_t(info.st_size) - m_start : 0;
    m_size = size < 0 ? available : size;
    m_valid = true;
}

FileInputStream::~FileInputStream()
{
    if (m_handle >= 0)
        ::close(m_handle);
}

std::unique_ptr<FileInputStream> FileInputStream::open(const std::string &path, int *error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = errno;
        return nullptr;
    }
    auto stream = std::make_unique<FileInputStream>(fd, 0, -1, true);
    if (!stream->m_valid) {
        if (error)
            *error = stream->m_last_error;
        return nullptr;
    }
    if (error)
        *error = 0;
    return stream;
}

std::string FileInputStream::error_text() const
{
    return m_last_error ? std::string(std::strerror(m_last_error)) : std::string();
}

int FileInputStream::seek(int64_t offset)
{
    m_position = m_start + offset;
    return 0;
}

int64_t FileInputStream::read(char *buffer, int64_t size)
{
    if (!m_valid || size <= 0)
        return 0;
    const int64_t end = m_start + m_size;
    if (m_position >= end)
        return 0;
    int64_t wanted = size < end - m_position ? size : end - m_position;
    int64_t done = 0;
    while (done < wanted) {
        const ssize_t got = ::pread(m_handle, buffer + done, size_t(wanted - done), off_t(m_position + done));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            m_last_error = errno;
            break;
        }
        if (got == 0) {
            // The file shrank under us: what is missing cannot be sent.
            m_last_error = EIO;
            break;
        }
        done += got;
    }
    m_position += done;
    return done;
}

int64_t FileInputStream::read(std::string *out, int64_t size)
{
    std::string buffer(size_t(size > 0 ? size : 0), '\0');
    const int64_t got = read(&buffer[0], size);
    buffer.resize(size_t(got));
    *out = std::move(buffer);
    return got;
}

} // namespace bos
