#include "transport/JpegSizeModel.h"

#include "transport/JpegCodec.h"

#include <algorithm>
#include <array>

namespace talvora {

namespace {

// Index q: the size at quality q as a share of the size at 100. The geometric mean of what
// bench_picture_sizes --every-quality measured on the test camera's scene at 384 x 288 (YUY2),
// 640 x 360 (from 1280 x 720, YUY2 and Motion JPEG) and 640 x 480 (Motion JPEG), made
// monotonic; the four differ from it by less than a quarter anywhere. Grain makes quality 100
// twice as large as 95.
constexpr std::array<double, 101> kRelativeJpegBytes = {
    0.0613, // unused: qualities start at 1
    0.0613, 0.0615, 0.0631, 0.0666, 0.0701, 0.0733, 0.0763, 0.0791, 0.0823, 0.0853, 0.0873, 0.0900, 0.0925,
    0.0950, 0.0970, 0.0995, 0.1019, 0.1047, 0.1064, 0.1089, 0.1111, 0.1133, 0.1150, 0.1173, 0.1192, 0.1212,
    0.1230, 0.1250, 0.1265, 0.1284, 0.1302, 0.1317, 0.1337, 0.1347, 0.1369, 0.1384, 0.1398, 0.1423, 0.1433,
    0.1440, 0.1465, 0.1475, 0.1485, 0.1508, 0.1516, 0.1535, 0.1543, 0.1561, 0.1585, 0.1585, 0.1585, 0.1614,
    0.1632, 0.1642, 0.1654, 0.1671, 0.1691, 0.1716, 0.1726, 0.1739, 0.1763, 0.1781, 0.1806, 0.1821, 0.1848,
    0.1877, 0.1896, 0.1936, 0.1962, 0.1995, 0.2034, 0.2054, 0.2094, 0.2140, 0.2142, 0.2180, 0.2235, 0.2292,
    0.2320, 0.2377, 0.2446, 0.2512, 0.2624, 0.2705, 0.2803, 0.2918, 0.2989, 0.3138, 0.3224, 0.3414, 0.3538,
    0.3668, 0.3978, 0.4318, 0.4786, 0.5333, 0.5949, 0.6592, 0.8291, 1.0000,
};

qsizetype predicted(double bytesAt100, int quality) {
    return qsizetype(bytesAt100 * relativeJpegBytes(quality) + 0.5);
}

} // namespace

double relativeJpegBytes(int quality) {
    return kRelativeJpegBytes[std::size_t(std::clamp(quality, kMinJpegQuality, kMaxJpegQuality))];
}

void JpegSizeModel::observe(int quality, qsizetype bytes) {
    if (bytes > 0)
        m_bytesAt100 = double(bytes) / relativeJpegBytes(quality);
}

void JpegSizeModel::observeAbove(int quality, qsizetype bytes) {
    // At least that much, and likely more: an encoder stopped at the limit says only "larger".
    const double atLeast = 1.1 * double(bytes) / relativeJpegBytes(quality);
    m_bytesAt100 = std::max(m_bytesAt100, atLeast);
}

qsizetype JpegSizeModel::bytesAt(int quality) const {
    return known() ? predicted(m_bytesAt100, quality) : 0;
}

int JpegSizeModel::qualityFor(qsizetype bytes) const {
    if (!known())
        return kMaxJpegQuality;
    // The table falls monotonically with the quality: the first from the top that fits.
    for (int q = kMaxJpegQuality; q > kMinJpegQuality; --q) {
        if (predicted(m_bytesAt100, q) <= bytes)
            return q;
    }
    return kMinJpegQuality;
}

} // namespace talvora
