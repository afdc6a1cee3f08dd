#pragma once

// Messages of the streaming wire protocol (PROTOCOL.md), shared by the
// library and by the local cloud's phone farm. Plain C++ so both can use it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace swp {

constexpr uint32_t kMagic = 0x53575031; // "SWP1"
// The newest version this side speaks, and the oldest it still accepts.
// Version 2 adds Text; a session runs at the lower of the two sides' versions.
constexpr uint16_t kVersion = 2;
constexpr uint16_t kMinVersion = 1;
// Largest message body (type byte included) either side accepts.
constexpr uint32_t kMaxMessage = 4 * 1024 * 1024;
constexpr uint32_t kMaxClipboard = 1024 * 1024;
constexpr int kMaxPointers = 10;
constexpr int kMaxLevels = 16;

enum class Type : uint8_t {
    Hello = 0x01,
    Accept = 0x02,
    Refuse = 0x03,
    Video = 0x10,
    Touch = 0x20,
    Key = 0x21,
    ClipboardToPhone = 0x22,
    ClipboardFromPhone = 0x23,
    Level = 0x24,
    Rotation = 0x25,
    ControlTime = 0x26,
    KeyFrameRequest = 0x27,
    Text = 0x28, // since version 2
    KeepAlive = 0x30,
    Disconnect = 0x31,
};

// Reason codes the phone side sends in Refuse and Disconnect.
constexpr uint32_t kCodeClientStop = 0;
constexpr uint32_t kCodeKicked = 0x30005;         // 196613
constexpr uint32_t kCodeIdle = 0x30006;           // 196614
constexpr uint32_t kCodeSessionInvalid = 0x3000D; // 196621
constexpr uint32_t kCodeRefused = 0x300C9;        // 196809
constexpr uint32_t kCodeProtocol = 0x300CA;       // 196810, malformed message from the client

// Codes the library reports itself when the phone side gave none.
constexpr uint32_t kCodeConnectFailed = 0x50001;  // 327681
constexpr uint32_t kCodeConnectionLost = 0x50002; // 327682
constexpr uint32_t kCodeBadServer = 0x50003;      // 327683, malformed message from the server

using LevelFields = std::array<int32_t, 11>;

struct Hello {
    uint16_t version = kVersion;
    int32_t userId = 0;
    std::string sessionId;
    std::string padCode;
    int32_t loginFlags = 0;
    int32_t businessType = 0;
    std::string playOptions;
    std::array<int32_t, 12> play{};
    std::vector<LevelFields> levels;
    int32_t level = 0;
};

struct Accept {
    uint16_t screenWidth = 0;
    uint16_t screenHeight = 0;
    uint8_t rotation = 0;
    int32_t level = 0;
    int32_t frameRate = 0;
    // The session's version; sent only when above 1, so a version-1 client
    // never sees the extra field.
    uint16_t version = 1;
};

struct Video {
    uint64_t ptsMicros = 0;
    bool keyFrame = false;
    uint16_t width = 0;
    uint16_t height = 0;
    std::string data; // one H.264 access unit, Annex B
};

struct Touch {
    int32_t action = 0;
    std::vector<int32_t> x;
    std::vector<int32_t> y;
    std::vector<float> pressure;
};

struct Reason {
    uint32_t code = 0;
    std::string message;
};

// Appends big-endian fields to a message body.
class Writer final
{
public:
    explicit Writer(Type type);
    Writer &u8(uint8_t v);
    Writer &u16(uint16_t v);
    Writer &u32(uint32_t v);
    Writer &i32(int32_t v) { return u32(static_cast<uint32_t>(v)); }
    Writer &u64(uint64_t v);
    Writer &f32(float v);
    Writer &str(const std::string &s); // u16 length + bytes (truncated at 65535)
    Writer &raw(const void *data, size_t size);
    // The whole message: 4-byte length, type, body.
    std::string finish() const;

private:
    std::string m_body;
};

// Reads big-endian fields; any read past the end sets the failure flag and
// yields zeros, so decoding functions check ok() once at the end.
class Reader final
{
public:
    Reader(const char *data, size_t size) : m_data(data), m_size(size) {}
    explicit Reader(const std::string &s) : Reader(s.data(), s.size()) {}
    uint8_t u8();
    uint16_t u16();
    uint32_t u32();
    int32_t i32() { return static_cast<int32_t>(u32()); }
    uint64_t u64();
    float f32();
    std::string str();
    std::string rest();
    bool ok() const { return m_ok; }
    bool atEnd() const { return m_pos == m_size; }

private:
    bool take(size_t n);
    const char *m_data;
    size_t m_size;
    size_t m_pos = 0;
    bool m_ok = true;
};

// Splits a byte stream into messages.
class Deframer final
{
public:
    enum class Result { Message, NeedMore, Error };
    void append(const char *data, size_t size) { m_buffer.append(data, size); }
    // On Message, type and body are set. Error means the stream is broken
    // (length 0 or above kMaxMessage) and the connection must be closed.
    Result next(Type &type, std::string &body);
    size_t buffered() const { return m_buffer.size() - m_pos; }

private:
    std::string m_buffer;
    size_t m_pos = 0;
};

std::string encodeHello(const Hello &h);
bool decodeHello(const std::string &body, Hello &h);
std::string encodeAccept(const Accept &a);
bool decodeAccept(const std::string &body, Accept &a);
std::string encodeVideo(const Video &v);
bool decodeVideo(const std::string &body, Video &v);
std::string encodeTouch(const Touch &t);
bool decodeTouch(const std::string &body, Touch &t);
std::string encodeKey(int32_t action, int32_t code);
bool decodeKey(const std::string &body, int32_t &action, int32_t &code);
std::string encodeBytes(Type type, const std::string &bytes); // clipboard both ways, text
bool decodeBytes(const std::string &body, std::string &bytes);
std::string encodeInt(Type type, int32_t value); // level, rotation, control time
bool decodeInt(const std::string &body, int32_t &value);
std::string encodeReason(Type type, const Reason &r); // refuse, disconnect
bool decodeReason(const std::string &body, Reason &r);
std::string encodeKeepAlive(uint64_t millis);
std::string encodeEmpty(Type type);

} // namespace swp
