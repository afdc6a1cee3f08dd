#include "upload/bos/upload_request.h"

#include "upload/bos/stream.h"

#include <ctime>

namespace bos {

std::string BceRequest::path(bool) const
{
    return "/";
}

std::string BceRequest::path_with_bucket() const
{
    return "/";
}

int BceRequest::fill_http_request(HttpRequest &)
{
    return 0;
}

ObjectRequest::ObjectRequest(const std::string &bucket, const std::string &key)
    : m_key(key)
{
    set_bucket(bucket);
}

std::string ObjectRequest::path(bool bucket_in_host) const
{
    return bucket_in_host ? "/" + m_key : path_with_bucket();
}

std::string ObjectRequest::path_with_bucket() const
{
    return "/" + bucket() + "/" + m_key;
}

ObjectMetaData &ObjectMetaRequest::meta()
{
    if (!m_meta)
        m_meta = std::make_unique<ObjectMetaData>();
    return *m_meta;
}

int ObjectMetaRequest::fill_http_request(HttpRequest &request)
{
    if (!m_meta)
        return 0;
    const ObjectMetaData &meta = *m_meta;
    if (!meta.content_type.empty())
        request.set_header("Content-Type", meta.content_type);
    if (!meta.content_disposition.empty())
        request.set_header("Content-Disposition", meta.content_disposition);
    if (!meta.content_encoding.empty())
        request.set_header("Content-Encoding", meta.content_encoding);
    if (!meta.cache_control.empty())
        request.set_header("Cache-Control", meta.cache_control);
    if (meta.expires != 0) {
        const std::time_t when = std::time_t(meta.expires);
        std::tm utc = {};
        gmtime_r(&when, &utc);
        char text[64];
        std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &utc);
        request.set_header("Expires", text);
    }
    if (!meta.storage_class.empty())
        request.set_header("x-bce-storage-class", meta.storage_class);
    for (const auto &entry : meta.user_meta)
        request.set_header("x-bce-meta-" + entry.first, entry.second);
    return 0;
}

UploadRequest::UploadRequest(InputStream *stream, bool own)
    : m_stream(stream)
    , m_own(own)
{
}

UploadRequest::~UploadRequest()
{
    if (m_own)
        delete m_stream;
}

int UploadRequest::fill_upload(HttpRequest &request)
{
    request.set_body(m_stream);
    request.set_cancel_flag(m_cancel);
    if (progress_callback())
        request.set_progress_callback(progress_callback(), user_data());
    return 0;
}

PutObjectRequest::PutObjectRequest(const std::string &bucket, const std::string &key,
                                   std::unique_ptr<InputStream> stream)
    : ObjectMetaRequest(bucket, key)
    , UploadRequest(stream.release(), true)
{
}

PutObjectRequest::PutObjectRequest(const std::string &bucket, const std::string &key, InputStream &stream)
    : ObjectMetaRequest(bucket, key)
    , UploadRequest(&stream, false)
{
}

int PutObjectRequest::fill_http_request(HttpRequest &request)
{
    request.set_method(HTTP_METHOD_PUT);
    const int result = ObjectMetaRequest::fill_http_request(request);
    if (result != 0)
        return result;
    return fill_upload(request);
}

} // namespace bos
