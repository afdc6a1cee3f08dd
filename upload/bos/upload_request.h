#pragma once

#include "upload/bos/http_request.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace bos {

class InputStream;

class ServiceRequest
{
public:
    virtual ~ServiceRequest() = default;

    void set_progress_callback(ProgressCallback callback, void *user_data)
    {
        m_progress = callback;
        m_user_data = user_data;
    }
    ProgressCallback progress_callback() const { return m_progress; }
    void *user_data() const { return m_user_data; }

private:
    ProgressCallback m_progress = nullptr;
    void *m_user_data = nullptr;
};

class BceRequest
{
public:
    virtual ~BceRequest() = default;
    // The path for the addressing style in use.
    virtual std::string path(bool bucket_in_host) const;
    virtual std::string path_with_bucket() const;
    // Method and request-specific headers; non-zero stops the build.
    virtual int fill_http_request(HttpRequest &request);
    virtual bool addresses_object() const { return false; }

    std::map<std::string, std::string> &extra_headers() { return m_extra_headers; }
    const std::map<std::string, std::string> &extra_headers() const { return m_extra_headers; }
    const std::string &request_id() const { return m_request_id; }
    void set_request_id(const std::string &id) { m_request_id = id; }
    const std::string &bucket() const { return m_bucket; }
    void set_bucket(const std::string &bucket) { m_bucket = bucket; }

private:
    std::map<std::string, std::string> m_extra_headers;
    std::string m_request_id;
    std::string m_bucket;
};

class ObjectRequest : public BceRequest
{
public:
    ObjectRequest(const std::string &bucket, const std::string &key);
    std::string path(bool bucket_in_host) const override;
    std::string path_with_bucket() const override;
    bool addresses_object() const override { return true; }
    const std::string &key() const { return m_key; }

private:
    std::string m_key;
};

struct ObjectMetaData
{
    std::string content_type;
    std::string content_disposition;
    std::string content_encoding;
    std::string cache_control;
    int64_t expires = 0; // seconds since the epoch, 0: not set
    std::string storage_class;
    std::map<std::string, std::string> user_meta;
};

class ObjectMetaRequest : public ObjectRequest
{
public:
    using ObjectRequest::ObjectRequest;
    int fill_http_request(HttpRequest &request) override;

    // Created on first use.
    ObjectMetaData &meta();
    const ObjectMetaData *meta_if_set() const { return m_meta.get(); }

private:
    std::unique_ptr<ObjectMetaData> m_meta;
};

class UploadRequest : public ServiceRequest
{
public:
    UploadRequest(InputStream *stream, bool own);
    ~UploadRequest() override;
    UploadRequest(const UploadRequest &) = delete;
    UploadRequest &operator=(const UploadRequest &) = delete;

    InputStream *stream() const { return m_stream; }
    // Set from any thread to stop the upload at its next chunk; no retry follows.
    void set_cancel_flag(const std::atomic<bool> *flag) { m_cancel = flag; }
    const std::atomic<bool> *cancel_flag() const { return m_cancel; }
    bool cancelled() const { return m_cancel && m_cancel->load(); }
    int fill_upload(HttpRequest &request);

private:
    InputStream *m_stream;
    bool m_own;
    const std::atomic<bool> *m_cancel = nullptr;
};

class PutObjectRequest final : public ObjectMetaRequest, public UploadRequest
{
public:
    // The request owns the stream.
    PutObjectRequest(const std::string &bucket, const std::string &key, std::unique_ptr<InputStream> stream);
    // The caller keeps the stream alive for the request's life.
    PutObjectRequest(const std::string &bucket, const std::string &key, InputStream &stream);

    void set_storage_class(const std::string &storage_class) { meta().storage_class = storage_class; }
    int fill_http_request(HttpRequest &request) override;
};

} // namespace bos
