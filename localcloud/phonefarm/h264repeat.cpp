#include "localcloud/phonefarm/h264repeat.h"

#include <QVector>

namespace {

// Reads an RBSP (emulation prevention already removed) bit by bit; reading
// past the end sets the failure flag and yields zeros.
class BitReader
{
public:
    explicit BitReader(const QByteArray &data)
        : m_data(data)
    {
    }
    bool failed() const { return m_failed; }
    quint32 bits(int n)
    {
        quint32 v = 0;
        for (int i = 0; i < n; ++i)
            v = (v << 1) | bit();
        return v;
    }
    quint32 ue()
    {
        int zeros = 0;
        while (!m_failed && bit() == 0) {
            if (++zeros > 31) {
                m_failed = true;
                return 0;
            }
        }
        return ((1u << zeros) - 1) + bits(zeros);
    }
    qint32 se()
    {
        const quint32 k = ue();
        return (k & 1) ? qint32((k + 1) / 2) : -qint32(k / 2);
    }

private:
    quint32 bit()
    {
        if (m_pos >= m_data.size() * 8) {
            m_failed = true;
            return 0;
        }
        const quint32 b = (quint8(m_data.at(m_pos / 8)) >> (7 - m_pos % 8)) & 1;
        ++m_pos;
        return b;
    }

    const QByteArray &m_data;
    int m_pos = 0;
    bool m_failed = false;
};

class BitWriter
{
public:
    void bits(quint32 value, int n)
    {
        for (int i = n - 1; i >= 0; --i)
            bit((value >> i) & 1);
    }
    void ue(quint32 value)
    {
        const quint64 v = quint64(value) + 1;
        int length = 0;
        while ((v >> length) > 1)
            ++length;
        bits(0, length);
        for (int i = length; i >= 0; --i)
            bit(quint32(v >> i) & 1);
    }
    void se(qint32 value) { ue(value > 0 ? quint32(2 * value - 1) : quint32(-2 * qint64(value))); }
    // rbsp_trailing_bits: a one, then zeros to the byte boundary.
    QByteArray finish()
    {
        bit(1);
        while (m_count % 8)
            bit(0);
        return m_out;
    }

private:
    void bit(quint32 b)
    {
        if (m_count % 8 == 0)
            m_out.append('\0');
        if (b)
            m_out[m_out.size() - 1] = char(quint8(m_out.at(m_out.size() - 1)) | (0x80 >> (m_count % 8)));
        ++m_count;
    }

    QByteArray m_out;
    int m_count = 0;
};

// NAL units of an Annex B access unit, without their start codes.
QVector<QByteArray> nalUnits(const QByteArray &au)
{
    QVector<QByteArray> units;
    int start = -1;
    int i = 0;
    while (i + 2 < au.size()) {
        if (au.at(i) == 0 && au.at(i + 1) == 0 && au.at(i + 2) == 1) {
            if (start >= 0) {
                int end = i;
                while (end > start && au.at(end - 1) == 0)
                    --end;
                units.append(au.mid(start, end - start));
            }
            i += 3;
            start = i;
        } else {
            ++i;
        }
    }
    if (start >= 0 && start < au.size())
        units.append(au.mid(start));
    return units;
}

QByteArray unescape(const QByteArray &nal)
{
    QByteArray rbsp;
    rbsp.reserve(nal.size());
    int zeros = 0;
    for (int i = 1; i < nal.size(); ++i) { // after the NAL header byte
        const char c = nal.at(i);
        if (zeros >= 2 && c == 3) {
            zeros = 0;
            continue;
        }
        zeros = c == 0 ? zeros + 1 : 0;
        rbsp.append(c);
    }
    return rbsp;
}

QByteArray escape(const QByteArray &rbsp)
{
    QByteArray out;
    out.reserve(rbsp.size() + rbsp.size() / 64 + 4);
    int zeros = 0;
    for (const char c : rbsp) {
        if (zeros >= 2 && quint8(c) <= 3) {
            out.append('\3');
            zeros = 0;
        }
        out.append(c);
        zeros = c == 0 ? zeros + 1 : 0;
    }
    return out;
}

} // namespace

void H264Repeat::reset()
{
    *this = H264Repeat();
}

void H264Repeat::learn(const QByteArray &accessUnit)
{
    m_cached.clear();
    bool picture = false;
    for (const QByteArray &nal : nalUnits(accessUnit)) {
        if (nal.isEmpty())
            continue;
        const int refIdc = (quint8(nal.at(0)) >> 5) & 3;
        const int type = quint8(nal.at(0)) & 0x1f;
        switch (type) {
        case 7:
            m_haveSps = parseSps(unescape(nal));
            break;
        case 8:
            m_havePps = parsePps(unescape(nal));
            break;
        case 1:
        case 5:
            // The first slice names the picture.
            if (!picture)
                m_havePicture = parseSlice(unescape(nal), type, refIdc);
            picture = true;
            break;
        default:
            break;
        }
    }
    if (!picture)
        m_havePicture = false;
}

bool H264Repeat::parseSps(const QByteArray &rbsp)
{
    BitReader r(rbsp);
    const quint32 profile = r.bits(8);
    r.bits(16); // constraint flags, level
    m_spsId = int(r.ue());
    static const quint32 highProfiles[] = {100, 110, 122, 244, 44, 83, 86, 118, 128, 138, 139, 134, 135};
    for (quint32 p : highProfiles) {
        if (p != profile)
            continue;
        const quint32 chroma = r.ue();
        if (chroma == 3)
            r.bits(1);
        r.ue();
        r.ue();
        r.bits(1);
        if (r.bits(1)) { // scaling matrices: not worth reading past
            m_supported = false;
            return false;
        }
    }
    m_log2MaxFrameNum = int(r.ue()) + 4;
    m_pocType = int(r.ue());
    if (m_pocType == 0) {
        m_log2MaxPocLsb = int(r.ue()) + 4;
    } else if (m_pocType != 2) {
        m_supported = false;
        return false;
    }
    r.ue();     // reference frames
    r.bits(1);  // gaps allowed
    const quint32 widthMbs = r.ue() + 1;
    const quint32 heightMbs = r.ue() + 1;
    const bool frameMbsOnly = r.bits(1);
    if (r.failed() || !frameMbsOnly || m_log2MaxFrameNum > 16 || m_log2MaxPocLsb > 16 || widthMbs > 512
        || heightMbs > 512) {
        m_supported = false;
        return false;
    }
    m_mbCount = int(widthMbs * heightMbs);
    return true;
}

bool H264Repeat::parsePps(const QByteArray &rbsp)
{
    BitReader r(rbsp);
    m_ppsId = int(r.ue());
    const int spsId = int(r.ue());
    const bool cabac = r.bits(1);
    m_bottomFieldPocPresent = r.bits(1);
    const quint32 sliceGroups = r.ue() + 1;
    if (cabac || sliceGroups != 1 || spsId != m_spsId) {
        m_supported = false;
        return false;
    }
    r.ue(); // default reference counts
    r.ue();
    const bool weighted = r.bits(1);
    r.bits(2);
    r.se(); // initial QP, QS, chroma offset
    r.se();
    r.se();
    m_deblockingControl = r.bits(1);
    r.bits(1); // constrained intra
    m_redundantPicCnt = r.bits(1);
    if (r.failed() || weighted) {
        m_supported = false;
        return false;
    }
    return true;
}

bool H264Repeat::parseSlice(const QByteArray &rbsp, int nalType, int refIdc)
{
    // Only a reference picture can be repeated this way: the repeat takes
    // the frame number after it.
    if (!m_haveSps || !m_havePps || refIdc == 0)
        return false;
    BitReader r(rbsp);
    r.ue(); // first macroblock
    r.ue(); // slice type
    if (int(r.ue()) != m_ppsId)
        return false;
    m_frameNum = int(r.bits(m_log2MaxFrameNum));
    if (nalType == 5)
        r.ue(); // IDR picture id
    m_pocLsb = m_pocType == 0 ? int(r.bits(m_log2MaxPocLsb)) : 0;
    return !r.failed();
}

QByteArray H264Repeat::repeat() const
{
    if (!m_supported || !m_haveSps || !m_havePps || !m_havePicture || m_mbCount <= 0)
        return {};
    if (!m_cached.isEmpty())
        return m_cached;
    BitWriter w;
    w.ue(0); // first macroblock
    w.ue(5); // P, every slice of the picture
    w.ue(quint32(m_ppsId));
    w.bits(quint32((m_frameNum + 1) % (1 << m_log2MaxFrameNum)), m_log2MaxFrameNum);
    if (m_pocType == 0) {
        // Between the last picture and the encoder's next one (two apart).
        w.bits(quint32((m_pocLsb + 1) % (1 << m_log2MaxPocLsb)), m_log2MaxPocLsb);
        if (m_bottomFieldPocPresent)
            w.se(0);
    }
    if (m_redundantPicCnt)
        w.ue(0);
    w.bits(1, 1); // one reference picture, whatever the default
    w.ue(0);
    w.bits(0, 1); // no reference list changes
    // No reference marking: the picture is no reference.
    w.se(0); // QP delta
    if (m_deblockingControl)
        w.ue(1); // no deblocking: nothing changes
    w.ue(quint32(m_mbCount)); // every macroblock skipped
    m_cached = QByteArray("\0\0\0\1\1", 5) + escape(w.finish());
    return m_cached;
}
