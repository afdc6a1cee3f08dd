#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace bos {

class Stream
{
public:
    virtual ~Stream() = default;
    virtual int error_code() const { return 0; }
    virtual std::string error_text() const { return std::string(); }
    // Relative to the stream's start; 0 on success, negative on failure.
    virtual int seek(int64_t offset) = 0;
    virtual int64_t tell() const = 0;
};

class InputStream : public Stream
{
public:
    // Bytes read, 0 at the end or on failure.
    virtual int64_t read(char *buffer, int64_t size) = 0;
    virtual int64_t size() const = 0;
};

// Receives the body of a successful answer (downloads; put-object has none).
class OutputStream : public Stream
{
public:
    // Offered the announced length first; non-zero refuses the answer.
    virtual int reserve(int64_t size) = 0;
    // Bytes accepted.
    virtual int64_t write(const char *data, int64_t size) = 0;
};

#ifdef _WIN32
using FileHandle = void *;
#else
using FileHandle = int;
#endif

// A window [start, start + size) of a file, read in chunks with the
// platform's file API, so a file of any size streams in constant memory.
class FileInputStream final : public InputStream
{
public:
    // size < 0: from start to the end of the file. own: the stream takes the
    // handle; otherwise it keeps a duplicate of it.
    FileInputStream(FileHandle handle, int64_t start, int64_t size, bool own);
    ~FileInputStream() override;
    FileInputStream(const FileInputStream &) = delete;
    FileInputStream &operator=(const FileInputStream &) = delete;

    // Opens a file (UTF-8 path) for reading, whole file; null when it cannot
    // be opened, with the system's error code in *error.
    static std::unique_ptr<FileInputStream> open(const std::string &path, int *error = nullptr);

    int error_code() const override { return m_last_error; }
    std::string error_text() const override;
    int seek(int64_t offset) override;
    int64_t tell() const override { return m_position - m_start; }
    int64_t read(char *buffer, int64_t size) override;
    int64_t size() const override { return m_size; }

    int last_error() const { return m_last_error; }
    int64_t read(std::string *out, int64_t size);

private:
    FileHandle m_handle;
    bool m_valid = false;
    int64_t m_size = 0;
    int64_t m_start = 0;
    int64_t m_position = 0;
    int m_last_error = 0;
};

} // namespace bos
