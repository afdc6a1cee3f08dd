#include "platform/swplay/swprotocol.h"

#include <cstring>

namespace swp {

Writer::Writer(Type type)
{
    m_body.push_back(static_cast<char>(type));
}

Writer &Writer::u8(uint8_t v)
{
    m_body.push_back(static_cast<char>(v));
    return *this;
}

Writer &Writer::u16(uint16_t v)
{
    u8(static_cast<uint8_t>(v >> 8));
    return u8(static_cast<uint8_t>(v));
}

Writer &Writer::u32(uint32_t v)
{
    u16(static_cast<uint16_t>(v >> 16));
    return u16(static_cast<uint16_t>(v));
}

Writer &Writer::u64(uint64_t v)
{
    u32(static_cast<uint32_t>(v >> 32));
    return u32(static_cast<uint32_t>(v));
}

Writer &Writer::f32(float v)
{
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return u32(bits);
}

Writer &Writer::str(const std::string &s)
{
    const size_t n = s.size() > 0xFFFF ? 0xFFFF : s.size();
    u16(static_cast<uint16_t>(n));
    m_body.append(s.data(), n);
    return *this;
}

Writer &Writer::raw(const void *data, size_t size)
{
    m_body.append(static_cast<const char *>(data), size);
    return *this;
}

std::string Writer::finish() const
{
    const auto n = static_cast<uint32_t>(m_body.size());
    std::string out;
    out.reserve(n + 4);
    out.push_back(static_cast<char>(n >> 24));
    out.push_back(static_cast<char>(n >> 16));
    out.push_back(static_cast<char>(n >> 8));
    out.push_back(static_cast<char>(n));
    out += m_body;
    return out;
}

bool Reader::take(size_t n)
{
    if (!m_ok || m_size - m_pos < n) {
        m_ok = false;
        return false;
    }
    return true;
}

uint8_t Reader::u8()
{
    if (!take(1))
        return 0;
    return static_cast<uint8_t>(m_data[m_pos++]);
}

uint16_t Reader::u16()
{
    const uint16_t hi = u8();
    return static_cast<uint16_t>((hi << 8) | u8());
}

uint32_t Reader::u32()
{
    const uint32_t hi = u16();
    return (hi << 16) | u16();
}

uint64_t Reader::u64()
{
    const uint64_t hi = u32();
    return (hi << 32) | u32();
}

float Reader::f32()
{
    const uint32_t bits = u32();
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

std::string Reader::str()
{
    const size_t n = u16();
    if (!take(n))
        return {};
    std::string s(m_data + m_pos, n);
    m_pos += n;
    return s;
}

std::string Reader::rest()
{
    if (!m_ok)
        return {};
    std::string s(m_data + m_pos, m_size - m_pos);
    m_pos = m_size;
    return s;
}

Deframer::Result Deframer::next(Type &type, std::string &body)
{
    if (buffered() < 4)
        return Result::NeedMore;
    const auto *p = reinterpret_cast<const unsigned char *>(m_buffer.data() + m_pos);
    const uint32_t n = (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
    if (n == 0 || n > kMaxMessage)
        return Result::Error;
    if (buffered() < 4 + size_t(n))
        return Result::NeedMore;
    type = static_cast<Type>(p[4]);
    body.assign(m_buffer.data() + m_pos + 5, n - 1);
    m_pos += 4 + size_t(n);
    // Compact once the consumed part dominates, so the buffer stays small.
    if (m_pos > 65536 && m_pos * 2 > m_buffer.size()) {
        m_buffer.erase(0, m_pos);
        m_pos = 0;
    }
    return Result::Message;
}

std::string encodeHello(const Hello &h)
{
    Writer w(Type::Hello);
    w.u32(kMagic).u16(h.version).i32(h.userId).str(h.sessionId).str(h.padCode);
    w.i32(h.loginFlags).i32(h.businessType).str(h.playOptions);
    for (int32_t v : h.play)
        w.i32(v);
    const size_t count = h.levels.size() > size_t(kMaxLevels) ? size_t(kMaxLevels) : h.levels.size();
    w.u8(static_cast<uint8_t>(count));
    for (size_t i = 0; i < count; ++i)
        for (int32_t v : h.levels[i])
            w.i32(v);
    w.i32(h.level);
    return w.finish();
}

bool decodeHello(const std::string &body, Hello &h)
{
    Reader r(body);
    if (r.u32() != kMagic)
        return false;
    h.version = r.u16();
    if (h.version < kMinVersion || h.version > kVersion)
        return false;
    h.userId = r.i32();
    h.sessionId = r.str();
    h.padCode = r.str();
    h.loginFlags = r.i32();
    h.businessType = r.i32();
    h.playOptions = r.str();
    for (int32_t &v : h.play)
        v = r.i32();
    const int count = r.u8();
    if (count > kMaxLevels)
        return false;
    h.levels.assign(size_t(count), LevelFields{});
    for (auto &level : h.levels)
        for (int32_t &v : level)
            v = r.i32();
    h.level = r.i32();
    return r.ok() && r.atEnd();
}

std::string encodeAccept(const Accept &a)
{
    Writer w(Type::Accept);
    w.u16(a.screenWidth).u16(a.screenHeight).u8(a.rotation).i32(a.level).i32(a.frameRate);
    if (a.version > 1)
        w.u16(a.version);
    return w.finish();
}

bool decodeAccept(const std::string &body, Accept &a)
{
    Reader r(body);
    a.screenWidth = r.u16();
    a.screenHeight = r.u16();
    a.rotation = r.u8();
    a.level = r.i32();
    a.frameRate = r.i32();
    a.version = 1;
    if (r.ok() && !r.atEnd())
        a.version = r.u16();
    return r.ok() && r.atEnd() && a.version >= 1;
}

std::string encodeVideo(const Video &v)
{
    Writer w(Type::Video);
    w.u64(v.ptsMicros).u8(v.keyFrame ? 1 : 0).u16(v.width).u16(v.height).raw(v.data.data(), v.data.size());
    return w.finish();
}

bool decodeVideo(const std::string &body, Video &v)
{
    Reader r(body);
    v.ptsMicros = r.u64();
    v.keyFrame = (r.u8() & 1) != 0;
    v.width = r.u16();
    v.height = r.u16();
    v.data = r.rest();
    return r.ok() && !v.data.empty();
}

std::string encodeTouch(const Touch &t)
{
    Writer w(Type::Touch);
    size_t count = t.x.size();
    if (t.y.size() < count)
        count = t.y.size();
    if (t.pressure.size() < count)
        count = t.pressure.size();
    if (count > size_t(kMaxPointers))
        count = kMaxPointers;
    w.i32(t.action).u8(static_cast<uint8_t>(count));
    for (size_t i = 0; i < count; ++i)
        w.i32(t.x[i]).i32(t.y[i]).f32(t.pressure[i]);
    return w.finish();
}

bool decodeTouch(const std::string &body, Touch &t)
{
    Reader r(body);
    t.action = r.i32();
    const int count = r.u8();
    if (count < 1 || count > kMaxPointers)
        return false;
    t.x.resize(size_t(count));
    t.y.resize(size_t(count));
    t.pressure.resize(size_t(count));
    for (int i = 0; i < count; ++i) {
        t.x[size_t(i)] = r.i32();
        t.y[size_t(i)] = r.i32();
        t.pressure[size_t(i)] = r.f32();
    }
    return r.ok() && r.atEnd();
}

std::string encodeKey(int32_t action, int32_t code)
{
    return Writer(Type::Key).i32(action).i32(code).finish();
}

bool decodeKey(const std::string &body, int32_t &action, int32_t &code)
{
    Reader r(body);
    action = r.i32();
    code = r.i32();
    return r.ok() && r.atEnd();
}

std::string encodeBytes(Type type, const std::string &bytes)
{
    return Writer(type).raw(bytes.data(), bytes.size()).finish();
}

bool decodeBytes(const std::string &body, std::string &bytes)
{
    if (body.size() > kMaxClipboard)
        return false;
    bytes = body;
    return true;
}

std::string encodeInt(Type type, int32_t value)
{
    return Writer(type).i32(value).finish();
}

bool decodeInt(const std::string &body, int32_t &value)
{
    Reader r(body);
    value = r.i32();
    return r.ok() && r.atEnd();
}

std::string encodeReason(Type type, const Reason &reason)
{
    return Writer(type).u32(reason.code).str(reason.message).finish();
}

bool decodeReason(const std::string &body, Reason &reason)
{
    Reader r(body);
    reason.code = r.u32();
    reason.message = r.str();
    return r.ok() && r.atEnd();
}

std::string encodeKeepAlive(uint64_t millis)
{
    return Writer(Type::KeepAlive).u64(millis).finish();
}

std::string encodeEmpty(Type type)
{
    return Writer(type).finish();
}

} // namespace swp
