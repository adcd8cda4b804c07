#include "transport/JpegCodec.h"

#include "base/Error.h"
#include "transport/ReferenceJpeg.h"
#include "transport/TestPictures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace talvora {
namespace {

using test::cameraLikePicture;
using test::noisePicture;

struct Segment {
    int marker;         // the byte after FF
    QByteArray payload; // without the length field
};

// The marker segments of a JPEG file up to the first scan, plus the final two bytes' marker.
std::vector<Segment> segmentsOf(const QByteArray& file) {
    std::vector<Segment> out;
    qsizetype at = 2;
    while (at + 4 <= file.size() && quint8(file[at]) == 0xFF) {
        const int marker = quint8(file[at + 1]);
        const int length = quint8(file[at + 2]) << 8 | quint8(file[at + 3]);
        out.push_back({marker, file.mid(at + 4, length - 2)});
        if (marker == 0xDA) {
            break;
        }
        at += 2 + length;
    }
    return out;
}

const Segment* find(const std::vector<Segment>& segs, int marker) {
    for (const auto& s : segs) {
        if (s.marker == marker) {
            return &s;
        }
    }
    return nullptr;
}

double psnr(const QImage& first, const QImage& second) {
    const QImage a = first.convertToFormat(QImage::Format_RGB888);
    const QImage b = second.convertToFormat(QImage::Format_RGB888);
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        const uchar* pa = a.constScanLine(y);
        const uchar* pb = b.constScanLine(y);
        for (int x = 0; x < a.width() * 3; ++x) {
            const double d = double(pa[x]) - double(pb[x]);
            sum += d * d;
        }
    }
    const double mse = sum / (double(a.width()) * a.height() * 3);
    return 10 * std::log10(255.0 * 255.0 / mse);
}

QByteArray toBytes(const std::vector<uchar>& v) {
    return QByteArray(reinterpret_cast<const char*>(v.data()), qsizetype(v.size()));
}

// ---- the encoder's file, byte by byte -------------------------------------------------------

TEST(JpegEncoder, WritesBaselineJfifWithThreeComponents) {
    const QByteArray file = encodeJpeg(cameraLikePicture(384, 288), 90);
    ASSERT_GT(file.size(), 4);
    EXPECT_EQ(quint8(file[0]), 0xFF);
    EXPECT_EQ(quint8(file[1]), 0xD8);
    EXPECT_EQ(quint8(file[file.size() - 2]), 0xFF);
    EXPECT_EQ(quint8(file[file.size() - 1]), 0xD9);

    const auto segs = segmentsOf(file);
    ASSERT_FALSE(segs.empty());
    EXPECT_EQ(segs.front().marker, 0xE0) << "APP0 first";
    EXPECT_TRUE(segs.front().payload.startsWith(QByteArray("JFIF\0", 5)));

    const Segment* sof = find(segs, 0xC0);
    ASSERT_NE(sof, nullptr) << "baseline SOF0";
    for (int m : {0xC1, 0xC2, 0xC3, 0xC9, 0xCA}) {
        EXPECT_EQ(find(segs, m), nullptr) << "no extended, progressive, lossless or arithmetic frame " << m;
    }
    EXPECT_EQ(quint8(sof->payload[0]), 8) << "8-bit samples";
    EXPECT_EQ((quint8(sof->payload[1]) << 8) | quint8(sof->payload[2]), 288);
    EXPECT_EQ((quint8(sof->payload[3]) << 8) | quint8(sof->payload[4]), 384);
    EXPECT_EQ(quint8(sof->payload[5]), 3) << "three colour components";

    // One scan with all three components: not progressive.
    int scans = 0;
    for (qsizetype i = 0; i + 1 < file.size(); ++i) {
        if (quint8(file[i]) == 0xFF && quint8(file[i + 1]) == 0xDA) {
            ++scans;
        }
    }
    EXPECT_EQ(scans, 1);
    const Segment* sos = find(segs, 0xDA);
    ASSERT_NE(sos, nullptr);
    EXPECT_EQ(quint8(sos->payload[0]), 3);
}

// Quantisation tables as the library's defaults scaled by the quality, forced to baseline
// (8-bit entries, at most 255); a quality outside 1..100 is clamped.
TEST(JpegEncoder, QualityScalesBaselineTables) {
    struct Case {
        int quality;
        int firstLuma; // the DC entry of table 0: 16 scaled
    } cases[] = {{100, 1}, {90, 3},   {50, 16},     {25, 32}, {1, 255},
                 {0, 255}, {-5, 255}, {-1000, 255}, {150, 1}};
    for (const auto& c : cases) {
        const QByteArray file = encodeJpeg(cameraLikePicture(64, 48), c.quality);
        const auto segs = segmentsOf(file);
        int tables = 0;
        for (const auto& s : segs) {
            if (s.marker != 0xDB) {
                continue;
            }
            // A segment may hold several tables of 65 bytes (precision/id + 64 entries).
            for (qsizetype at = 0; at + 65 <= s.payload.size(); at += 65) {
                EXPECT_EQ(quint8(s.payload[at]) >> 4, 0) << "8-bit table at quality " << c.quality;
                if (tables == 0) {
                    EXPECT_EQ(quint8(s.payload[at + 1]), c.firstLuma) << "quality " << c.quality;
                }
                ++tables;
            }
        }
        EXPECT_EQ(tables, 2) << "quality " << c.quality;
    }
}

TEST(JpegEncoder, MatchesTheLibraryWithIntegerDct) {
    const QImage picture = cameraLikePicture(320, 240, 3);
    const QByteArray ours = encodeJpeg(picture, 75);
    EXPECT_EQ(ours, toBytes(test::referenceEncode(picture, {75, JDCT_ISLOW})));
    EXPECT_NE(ours, toBytes(test::referenceEncode(picture, {75, JDCT_FLOAT})))
        << "the integer DCT must be what makes the bytes";
}

TEST(JpegEncoder, ConvertsOtherFormatsToRgb) {
    const QImage rgb = cameraLikePicture(64, 64);
    EXPECT_EQ(encodeJpeg(rgb.convertToFormat(QImage::Format_RGB32), 80), encodeJpeg(rgb, 80));
}

TEST(JpegEncoder, ReportsTooLargeForTheBufferAndFailsOnNoPicture) {
    const QImage noisy = noisePicture(640, 480);
    std::vector<uchar> out(65507);
    const JpegEncodeResult big = encodeJpeg(noisy, 100, out.data(), qsizetype(out.size()));
    EXPECT_EQ(big.status, JpegEncodeStatus::TooLarge);

    const JpegEncodeResult none = encodeJpeg(QImage(), 90, out.data(), qsizetype(out.size()));
    EXPECT_EQ(none.status, JpegEncodeStatus::Failed);
    EXPECT_FALSE(none.error.isEmpty());
    EXPECT_THROW(encodeJpeg(QImage(), 90), Error);

    // Exactly enough room is enough.
    const QByteArray file = encodeJpeg(cameraLikePicture(160, 120), 90);
    std::vector<uchar> exact(std::size_t(file.size()));
    const JpegEncodeResult fits = encodeJpeg(cameraLikePicture(160, 120), 90, exact.data(), file.size());
    EXPECT_EQ(fits.status, JpegEncodeStatus::Ok);
    EXPECT_EQ(fits.size, file.size());
    const JpegEncodeResult oneShort =
        encodeJpeg(cameraLikePicture(160, 120), 90, exact.data(), file.size() - 1);
    EXPECT_EQ(oneShort.status, JpegEncodeStatus::TooLarge);
}

// ---- decoding ---------------------------------------------------------------------------------

TEST(JpegDecoder, RoundTripsCameraPictures) {
    for (QSize size : {QSize(384, 288), QSize(640, 480), QSize(1280, 720), QSize(17, 9)}) {
        const QImage picture = cameraLikePicture(size.width(), size.height());
        const QByteArray file = encodeJpeg(picture, 90);
        QString reason;
        const QImage decoded =
            decodeJpeg(reinterpret_cast<const uchar*>(file.constData()), file.size(), &reason);
        ASSERT_FALSE(decoded.isNull()) << reason.toStdString();
        EXPECT_EQ(decoded.format(), QImage::Format_RGB32);
        EXPECT_EQ(decoded.size(), size);
        EXPECT_GT(psnr(picture, decoded), 30.0) << size.width();
    }
}

TEST(JpegDecoder, MatchesTheLibraryWithIntegerDctAndSmoothing) {
    // Progressive, so that block smoothing has something to do.
    const QImage picture = cameraLikePicture(200, 150, 5);
    for (bool progressive : {false, true}) {
        const auto file = test::referenceEncode(picture, {60, JDCT_FLOAT, progressive});
        std::vector<uchar> pixels;
        int w = 0;
        int h = 0;
        test::referenceDecode(file.data(), file.size(), pixels, &w, &h);
        const QImage ours =
            decodeJpeg(file.data(), qsizetype(file.size())).convertToFormat(QImage::Format_RGB888);
        ASSERT_EQ(ours.size(), QSize(w, h));
        for (int y = 0; y < h; ++y) {
            ASSERT_EQ(0, std::memcmp(ours.constScanLine(y), pixels.data() + std::size_t(y) * w * 3,
                                     std::size_t(w) * 3))
                << "row " << y << (progressive ? " progressive" : " baseline");
        }
    }
}

TEST(JpegDecoder, GreyscaleComesOutAsRgb) {
    const auto file =
        test::referenceEncode(cameraLikePicture(64, 32), {90, JDCT_FLOAT, false, nullptr, 0, 1});
    const QImage decoded = decodeJpeg(file.data(), qsizetype(file.size()));
    ASSERT_FALSE(decoded.isNull());
    const QRgb px = decoded.pixel(20, 10);
    EXPECT_EQ(qRed(px), qGreen(px));
    EXPECT_EQ(qGreen(px), qBlue(px));
}

TEST(JpegDecoder, DropsTruncatedFilesAtEveryLength) {
    const QByteArray file = encodeJpeg(cameraLikePicture(160, 120), 80);
    int dropped = 0;
    for (qsizetype n = 0; n < file.size() - 2; n += 7) {
        QString reason;
        const QImage img = decodeJpeg(reinterpret_cast<const uchar*>(file.constData()), n, &reason);
        EXPECT_TRUE(img.isNull()) << "length " << n;
        EXPECT_FALSE(reason.isEmpty()) << "length " << n;
        ++dropped;
    }
    EXPECT_GT(dropped, 100);
}

TEST(JpegDecoder, DropsRandomBytesAndCorruptData) {
    test::Lcg rng(99);
    for (int round = 0; round < 300; ++round) {
        QByteArray junk(1 + int(rng.next() % 3000), Qt::Uninitialized);
        for (auto& c : junk) {
            c = char(rng.byte());
        }
        if (round % 2 == 0) { // a plausible start makes the parser go further
            junk[0] = char(0xFF);
            junk[1 % junk.size()] = char(0xD8);
        }
        EXPECT_TRUE(decodeJpeg(reinterpret_cast<const uchar*>(junk.constData()), junk.size()).isNull());
    }
    // A valid file with its entropy-coded data overwritten: the library warns, the picture goes.
    QByteArray file = encodeJpeg(cameraLikePicture(160, 120), 80);
    for (qsizetype i = file.size() / 2; i < file.size() / 2 + 64; ++i) {
        file[i] = char(0xFF);
    }
    QString reason;
    EXPECT_TRUE(decodeJpeg(reinterpret_cast<const uchar*>(file.constData()), file.size(), &reason).isNull());
    EXPECT_FALSE(reason.isEmpty());
    EXPECT_TRUE(decodeJpeg(nullptr, 0).isNull());
}

// Patches the frame header of a small valid file to claim other dimensions.
QByteArray withClaimedSize(int width, int height) {
    QByteArray file = encodeJpeg(cameraLikePicture(16, 16), 50);
    const qsizetype sof = file.indexOf(QByteArray("\xFF\xC0", 2));
    EXPECT_GT(sof, 0);
    file[sof + 5] = char(height >> 8);
    file[sof + 6] = char(height & 0xFF);
    file[sof + 7] = char(width >> 8);
    file[sof + 8] = char(width & 0xFF);
    return file;
}

TEST(JpegDecoder, RefusesHugeClaimsFromTheHeader) {
    struct Case {
        int width;
        int height;
        const char* reasonPart;
    } cases[] = {
        {65000, 65000, "4096"},
        {4097, 16, "4096"},
        {16, 4097, "4096"},
        {65535, 1, "65500"}, // beyond the library's own limit: it refuses the header itself
    };
    for (const auto& c : cases) {
        const QByteArray file = withClaimedSize(c.width, c.height);
        const auto header = probeJpeg(reinterpret_cast<const uchar*>(file.constData()), file.size());
        if (c.width <= 65500) {
            ASSERT_TRUE(header.has_value());
            EXPECT_EQ(header->width, c.width);
            EXPECT_EQ(header->height, c.height);
        }
        QString reason;
        EXPECT_TRUE(
            decodeJpeg(reinterpret_cast<const uchar*>(file.constData()), file.size(), &reason).isNull());
        EXPECT_TRUE(reason.contains(QLatin1String(c.reasonPart))) << reason.toStdString();
    }
    // At the limit the size is accepted; this file's data then runs out and is dropped for that.
    const QByteArray edge = withClaimedSize(4096, 4096);
    QString reason;
    EXPECT_TRUE(decodeJpeg(reinterpret_cast<const uchar*>(edge.constData()), edge.size(), &reason).isNull());
    EXPECT_FALSE(reason.contains(QLatin1String("4096")) || reason.contains(QLatin1String("megapixels")))
        << reason.toStdString();
}

TEST(JpegDecoder, RefusesProgressiveFilesWithTooManyScans) {
    // One scan for DC, then one per AC coefficient and component: 1 + 63 * 3 = 190 scans, a
    // valid file that no sane encoder writes.
    std::vector<jpeg_scan_info> script;
    jpeg_scan_info dc{};
    dc.comps_in_scan = 3;
    dc.component_index[0] = 0;
    dc.component_index[1] = 1;
    dc.component_index[2] = 2;
    script.push_back(dc);
    for (int k = 1; k < 64; ++k) {
        for (int c = 0; c < 3; ++c) {
            jpeg_scan_info ac{};
            ac.comps_in_scan = 1;
            ac.component_index[0] = c;
            ac.Ss = k;
            ac.Se = k;
            script.push_back(ac);
        }
    }
    const QImage picture = cameraLikePicture(64, 64);
    const auto file =
        test::referenceEncode(picture, {80, JDCT_FLOAT, false, script.data(), int(script.size())});
    QString reason;
    EXPECT_TRUE(decodeJpeg(file.data(), qsizetype(file.size()), &reason).isNull());
    EXPECT_TRUE(reason.contains(QLatin1String("scans"))) << reason.toStdString();

    // The library's own progressive script (10 scans) is fine.
    const auto normal = test::referenceEncode(picture, {80, JDCT_FLOAT, true});
    EXPECT_FALSE(decodeJpeg(normal.data(), qsizetype(normal.size())).isNull());
}

TEST(JpegProbe, ReadsHeaderOnly) {
    const QByteArray file = encodeJpeg(cameraLikePicture(384, 288), 90);
    // The header alone (up to the scan) is enough.
    const qsizetype sos = file.indexOf(QByteArray("\xFF\xDA", 2));
    const auto header = probeJpeg(reinterpret_cast<const uchar*>(file.constData()), sos + 14);
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(header->width, 384);
    EXPECT_EQ(header->height, 288);
    EXPECT_EQ(header->components, 3);
    EXPECT_FALSE(header->progressive);
    EXPECT_FALSE(probeJpeg(reinterpret_cast<const uchar*>(file.constData()), 20).has_value());
    EXPECT_FALSE(probeJpeg(nullptr, 0).has_value());
}

} // namespace
} // namespace talvora
