#pragma once

#include <cstdint>

namespace bos {

class HttpRequest;
class HttpResponse;

// One HTTP exchange on libcurl. Retries, signing and the reading of error
// answers belong to the client above.
class HttpClient
{
public:
    // 0 when the exchange completed (whatever the status), 1003 when no
    // libcurl handle could be had, 1001 when the transfer failed or was
    // cancelled.
    int execute(HttpRequest &request, HttpResponse &response);
};

// Bytes handed to libcurl per read of the body.
constexpr long UploadChunkSize = 512 * 1024;

} // namespace bos
