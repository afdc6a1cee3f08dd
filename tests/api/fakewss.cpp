// A codec stand-in: prefixes "PK:" on the way out, strips it on the way in,
// and remembers the length it was given.
#include <cstring>
#include <string>

namespace {
std::string encoded;
std::string decoded;
int lastLength = -1;
}

extern "C" {

__attribute__((visibility("default"))) int PackEncode(const char *bytes, int length, char **out)
{
    lastLength = length;
    encoded = "PK:" + std::string(bytes, size_t(length));
    *out = encoded.data();
    return int(encoded.size());
}

__attribute__((visibility("default"))) int PackDecode(const char *text, char **out)
{
    decoded = text;
    if (decoded.rfind("PK:", 0) == 0)
        decoded.erase(0, 3);
    *out = decoded.data();
    return 0;
}

__attribute__((visibility("default"))) int FakeLastLength()
{
    return lastLength;
}
}
