#pragma once

#include <cstdint>

// One encoding level the phone may be asked for: eleven 32-bit integers,
// filled by the program in this order.
struct VideoLevel {
    int32_t codec;            // 2: H.264
    int32_t width;            // encoded picture size
    int32_t height;
    int32_t frameRate;        // used when the play parameters give none
    int32_t keyFrameSeconds;  // distance between key frames
    int32_t bitRateKbps;
    int32_t maxQp;
    int32_t id;               // the index setVideoLevel() selects it by
    int32_t idAgain;
    int32_t reserved1;
    int32_t reserved2;
};

static_assert(sizeof(VideoLevel) == 11 * sizeof(int32_t), "VideoLevel is eleven 32-bit integers");
