#pragma once

#include "convert/CaptureFormatSource.h"

#include <QByteArray>
#include <QList>

namespace talvora::test {

// A capture window whose driver reports `format` and records every format it was asked for.
class FakeCaptureFormatSource : public CaptureFormatSource {
public:
    bool hasCaptureWindow() const override { return window; }
    bool setVideoFormat(const QByteArray& formatBlock) override {
        requests.append(formatBlock);
        return acceptRequests ? (format = formatBlock, true) : false;
    }
    QByteArray videoFormat() const override { return format; }

    bool window = true;
    bool acceptRequests = false;
    QByteArray format;
    QList<QByteArray> requests;
};

} // namespace talvora::test
