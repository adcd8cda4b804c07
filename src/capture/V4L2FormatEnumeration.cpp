#include "capture/V4L2FormatEnumeration.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cstdlib>
#include <optional>

namespace talvora {

namespace {

// Frame sizes the format dialog offers inside a stepwise or continuous range.
const FrameSize kCommonSizes[] = {{160, 120},  {176, 144},  {320, 240},  {352, 288},
                                  {384, 288},  {640, 360},  {640, 480},  {800, 600},
                                  {1024, 768}, {1280, 720}, {1280, 960}, {1920, 1080}};

int clampedEdge(quint32 value) {
    return int(std::min<quint32>(value, kMaxFrameEdge));
}

bool isUsable(const v4l2_fract& interval) {
    return interval.numerator != 0 && interval.denominator != 0;
}

// The sizes the dialog offers for one entry of the size enumeration.
QList<FrameSize> offeredSizes(const FrameSizeRange& range) {
    if (range.stepWidth == 0 && range.minWidth == range.maxWidth)
        return {{range.minWidth, range.minHeight}};
    const auto onGrid = [](int v, int low, int step) { return step <= 1 || (v - low) % step == 0; };
    const auto fits = [&](FrameSize s) {
        return s.width >= range.minWidth && s.width <= range.maxWidth && s.height >= range.minHeight &&
               s.height <= range.maxHeight && onGrid(s.width, range.minWidth, range.stepWidth) &&
               onGrid(s.height, range.minHeight, range.stepHeight);
    };
    QList<FrameSize> sizes{{range.minWidth, range.minHeight}};
    for (FrameSize common : kCommonSizes) {
        if (fits(common))
            sizes.append(common);
    }
    sizes.append({range.maxWidth, range.maxHeight});
    return sizes;
}

} // namespace

QList<quint32> enumeratePixelFormats(V4L2Device& device, int fd) {
    QList<quint32> formats;
    for (quint32 i = 0; i < kMaxEnumerated; ++i) {
        v4l2_fmtdesc desc{};
        desc.index = i;
        desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (xioctl(device, fd, VIDIOC_ENUM_FMT, &desc) < 0)
            break;
        if (!formats.contains(desc.pixelformat))
            formats.append(desc.pixelformat);
    }
    return formats;
}

QList<FrameSizeRange> enumerateFrameSizes(V4L2Device& device, int fd, quint32 pixelFormat) {
    QList<FrameSizeRange> ranges;
    for (quint32 i = 0; i < kMaxEnumerated; ++i) {
        v4l2_frmsizeenum size{};
        size.index = i;
        size.pixel_format = pixelFormat;
        if (xioctl(device, fd, VIDIOC_ENUM_FRAMESIZES, &size) < 0)
            break;
        if (size.type != V4L2_FRMSIZE_TYPE_DISCRETE) {
            const auto& sw = size.stepwise;
            ranges.append({clampedEdge(sw.min_width), clampedEdge(sw.max_width), clampedEdge(sw.step_width),
                           clampedEdge(sw.min_height), clampedEdge(sw.max_height),
                           clampedEdge(sw.step_height)});
            break; // a stepwise entry is the only one
        }
        const int w = clampedEdge(size.discrete.width);
        const int h = clampedEdge(size.discrete.height);
        if (w > 0 && h > 0)
            ranges.append({w, w, 0, h, h, 0});
    }
    return ranges;
}

QList<FrameInterval> enumerateFrameIntervals(V4L2Device& device, int fd, quint32 pixelFormat, int width,
                                             int height) {
    QList<FrameInterval> intervals;
    for (quint32 i = 0; i < kMaxEnumerated; ++i) {
        v4l2_frmivalenum ival{};
        ival.index = i;
        ival.pixel_format = pixelFormat;
        ival.width = quint32(width);
        ival.height = quint32(height);
        if (xioctl(device, fd, VIDIOC_ENUM_FRAMEINTERVALS, &ival) < 0)
            break;
        if (ival.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
            if (isUsable(ival.discrete))
                intervals.append({ival.discrete.numerator, ival.discrete.denominator});
            continue;
        }
        // A range: offer its fastest and slowest ends.
        const v4l2_fract fastest = ival.stepwise.min;
        const v4l2_fract slowest = ival.stepwise.max;
        if (isUsable(fastest))
            intervals.append({fastest.numerator, fastest.denominator});
        if (isUsable(slowest) &&
            !(slowest.numerator == fastest.numerator && slowest.denominator == fastest.denominator))
            intervals.append({slowest.numerator, slowest.denominator});
        break;
    }
    return intervals;
}

QList<CaptureFormatOption> enumerateFormatOptions(V4L2Device& device, int fd,
                                                  const QList<quint32>& devicePixelFormats,
                                                  const V4L2FrameGeometry& current,
                                                  FrameInterval fallbackInterval) {
    QList<CaptureFormatOption> options;
    for (quint32 pixelFormat : devicePixelFormats) {
        if (!isSupportedPixelFormat(pixelFormat))
            continue;
        CaptureFormatOption option;
        option.code = pixelFormat;
        option.name = isCompressedPixelFormat(pixelFormat)
                          ? QStringLiteral("%1 (Motion JPEG)").arg(pixelFormatName(pixelFormat))
                          : pixelFormatName(pixelFormat);
        QList<FrameSize> sizes;
        for (const FrameSizeRange& range : enumerateFrameSizes(device, fd, pixelFormat))
            sizes.append(offeredSizes(range));
        if (sizes.isEmpty() && current.pixelFormat == pixelFormat)
            sizes.append({current.width, current.height});
        for (FrameSize size : sizes) {
            const bool seen =
                std::any_of(option.sizes.begin(), option.sizes.end(), [&](const CaptureFrameSize& s) {
                    return s.width == size.width && s.height == size.height;
                });
            if (seen || size.width <= 0 || size.height <= 0)
                continue;
            QList<FrameInterval> intervals =
                enumerateFrameIntervals(device, fd, pixelFormat, size.width, size.height);
            if (intervals.isEmpty())
                intervals.append(fallbackInterval);
            option.sizes.append({size.width, size.height, intervals});
        }
        options.append(option);
    }
    return options;
}

CaptureFormatChoice chooseCaptureMode(const QList<CaptureFormatOption>& options, int width, int height) {
    const auto fastest = [](const QList<FrameInterval>& intervals) {
        FrameInterval best{0, 0};
        for (const FrameInterval& i : intervals) {
            if (i.numerator == 0 || i.denominator == 0)
                continue;
            if (best.denominator == 0 ||
                quint64(i.numerator) * best.denominator < quint64(best.numerator) * i.denominator)
                best = i;
        }
        return best;
    };
    struct Candidate {
        CaptureFormatChoice choice;
        bool fastEnough = false;
        long distance = 0;
        qsizetype rank = 0;
    };
    std::optional<Candidate> best;
    for (const CaptureFormatOption& option : options) {
        const qsizetype rank = supportedPixelFormats().indexOf(option.code);
        if (rank < 0)
            continue;
        for (const CaptureFrameSize& size : option.sizes) {
            const FrameInterval interval = fastest(size.intervals);
            // A size without a known rate is taken at its word.
            const bool fastEnough =
                interval.denominator == 0 ||
                quint64(interval.numerator) * kMinDefaultFrameRate <= interval.denominator;
            const Candidate candidate{{option.code, size.width, size.height,
                                       interval.denominator == 0 ? FrameInterval{} : interval},
                                      fastEnough,
                                      std::labs(long(size.width) - width) +
                                          std::labs(long(size.height) - height),
                                      rank};
            const auto better = [&](const Candidate& a, const Candidate& b) {
                if (a.fastEnough != b.fastEnough)
                    return a.fastEnough;
                if (a.distance != b.distance)
                    return a.distance < b.distance;
                return a.rank < b.rank;
            };
            if (!best || better(candidate, *best))
                best = candidate;
        }
    }
    return best ? best->choice : CaptureFormatChoice{};
}

} // namespace talvora
