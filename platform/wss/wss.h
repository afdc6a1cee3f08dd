#pragma once

// The push channel's packet codec.
//
// A packed frame is a four-byte header ("WS", format version 1, reserved 0)
// followed by the message's UTF-8 bytes in base64, so everything after the
// header is 7-bit text. Unpacking takes that text (with or without the
// header, leading blanks skipped) and gives the message back.
//
// Output buffers belong to the library, one per thread, and stay valid until
// the same thread's next call.

#define WSS_EXPORT extern "C" __attribute__((visibility("default")))

// Packs length bytes; *out receives the frame. Returns the frame's length,
// or 0 (with *out an empty text) when there is nothing to pack.
WSS_EXPORT int PackEncode(const char *bytes, int length, char **out);

// Unpacks a zero-terminated frame text; *out receives the zero-terminated
// message, empty when the text is no frame of ours. Returns its length, or -1
// for a text that is no frame.
WSS_EXPORT int PackDecode(const char *text, char **out);
