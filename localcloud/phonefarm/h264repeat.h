#pragma once

#include <QByteArray>

// Makes the cheapest picture that repeats the last one an H.264 encoder
// produced: a non-reference P picture whose macroblocks are all skipped.
// Nothing is encoded, it takes a few bytes, decodes to a copy of the
// picture before it and, being no reference, leaves the decoder as it was,
// so it can be sent any number of times before the encoder's next picture.
//
// It learns what it needs (parameter sets, frame number, picture order)
// from the access units the encoder produces; streams it does not
// understand (CABAC, interlace, slice groups, weighted prediction, picture
// order type 1) give no repeat picture, and the caller encodes instead.
class H264Repeat final
{
public:
    // Every access unit the encoder produces, in order.
    void learn(const QByteArray &accessUnit);
    void reset();
    // Annex B access unit repeating the last learnt picture; empty when
    // there is none or the stream is not understood.
    QByteArray repeat() const;

private:
    bool parseSps(const QByteArray &rbsp);
    bool parsePps(const QByteArray &rbsp);
    bool parseSlice(const QByteArray &rbsp, int nalType, int refIdc);

    // From the parameter sets.
    bool m_haveSps = false;
    bool m_havePps = false;
    int m_spsId = -1;
    int m_log2MaxFrameNum = 4;
    int m_pocType = 0;
    int m_log2MaxPocLsb = 4;
    int m_mbCount = 0;
    int m_ppsId = 0;
    bool m_bottomFieldPocPresent = false;
    bool m_deblockingControl = false;
    bool m_redundantPicCnt = false;
    bool m_supported = true;
    // From the last picture.
    bool m_havePicture = false;
    int m_frameNum = 0;
    int m_pocLsb = 0;
    // Built once per picture.
    mutable QByteArray m_cached;
};
