#include "platform/wss/wss.h"

#include <cstring>
#include <string>

namespace {

const char Header[4] = {'W', 'S', 1, 0};
const char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

thread_local std::string encoded;
thread_local std::string decoded;

int sextet(unsigned char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

} // namespace

int PackEncode(const char *bytes, int length, char **out)
{
    encoded.assign(Header, sizeof Header);
    if (!bytes || length <= 0) {
        encoded.clear();
        *out = encoded.data();
        return 0;
    }
    const auto *in = reinterpret_cast<const unsigned char *>(bytes);
    encoded.reserve(sizeof Header + (size_t(length) + 2) / 3 * 4);
    int i = 0;
    for (; i + 2 < length; i += 3) {
        const unsigned v = unsigned(in[i]) << 16 | unsigned(in[i + 1]) << 8 | in[i + 2];
        encoded += Alphabet[v >> 18 & 63];
        encoded += Alphabet[v >> 12 & 63];
        encoded += Alphabet[v >> 6 & 63];
        encoded += Alphabet[v & 63];
    }
    if (i < length) {
        unsigned v = unsigned(in[i]) << 16;
        if (i + 1 < length)
            v |= unsigned(in[i + 1]) << 8;
        encoded += Alphabet[v >> 18 & 63];
        encoded += Alphabet[v >> 12 & 63];
        encoded += i + 1 < length ? Alphabet[v >> 6 & 63] : '=';
        encoded += '=';
    }
    *out = encoded.data();
    return int(encoded.size());
}

int PackDecode(const char *text, char **out)
{
    decoded.clear();
    *out = decoded.data();
    if (!text)
        return -1;
    // The receiver puts blanks where the header was; a whole frame works too.
    while (*text == ' ')
        ++text;
    if (std::strncmp(text, Header, 2) == 0 && text[2] == Header[2] && text[3] == Header[3])
        text += sizeof Header;

    unsigned buffer = 0;
    int bits = 0;
    for (const char *p = text; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c == '=')
            break;
        const int v = sextet(c);
        if (v < 0) {
            decoded.clear();
            *out = decoded.data();
            return -1;
        }
        buffer = buffer << 6 | unsigned(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            decoded += char(buffer >> bits & 0xff);
        }
    }
    *out = decoded.data();
    return int(decoded.size());
}
