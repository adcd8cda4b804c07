#include "capture/TestCameraOption.h"

#include <QRegularExpression>
#include <QStringList>

#include "base/Error.h"
#include "capture/TestPattern.h"

namespace talvora {

namespace {

const QString kKinds = QStringLiteral("RGB, YUY2, UYVY, Y41P, YVU9, I420, Y8, Y211 or MJPG");

quint32 kindFromName(const QString& name) {
    const QString upper = name.trimmed().toUpper();
    static const struct {
        const char* name;
        quint32 compression;
    } kinds[] = {{"RGB", kBiRgb},       {"YUY2", kFourccYUY2}, {"UYVY", kFourccUYVY},
                 {"Y41P", kFourccY41P}, {"YVU9", kFourccYVU9}, {"I420", kFourccI420},
                 {"Y8", kFourccY8},     {"Y211", kFourccY211}, {"MJPG", kFourccMJPG}};
    for (const auto& kind : kinds) {
        if (upper == QLatin1String(kind.name))
            return kind.compression;
    }
    throw Error(QStringLiteral("Unknown test camera format \"%1\": use %2.").arg(name, kKinds));
}

int pictureFromName(const QString& name) {
    const QString lower = name.trimmed().toLower();
    if (lower == QLatin1String("bars"))
        return TestPatternSettings::ColourBars;
    if (lower == QLatin1String("scene"))
        return TestPatternSettings::Scene;
    throw Error(QStringLiteral("Unknown test camera picture \"%1\": use bars or scene.").arg(name));
}

} // namespace

TestCameraConfig parseTestCameraOption(const QString& value) {
    TestCameraConfig config;
    if (value.isEmpty())
        return config;
    const qsizetype colon = value.indexOf(QLatin1Char(':'));
    config.compression = kindFromName(colon < 0 ? value : value.left(colon));
    if (colon < 0)
        return config;
    const qsizetype second = value.indexOf(QLatin1Char(':'), colon + 1);
    const QString size = second < 0 ? value.mid(colon + 1) : value.mid(colon + 1, second - colon - 1);
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,9})[xX](\\d{1,9})$"));
    const QRegularExpressionMatch match = pattern.match(size);
    if (!match.hasMatch())
        throw Error(QStringLiteral("Invalid test camera size \"%1\": use WIDTHxHEIGHT, for example 384x288.")
                        .arg(size));
    const int width = match.captured(1).toInt();
    const int height = match.captured(2).toInt();
    if (width < 1 || height < 1 || width > kMaxTestPatternEdge || height > kMaxTestPatternEdge)
        throw Error(
            QStringLiteral("Test camera size %1x%2 is out of range: width and height must be 1 to %3.")
                .arg(width)
                .arg(height)
                .arg(kMaxTestPatternEdge));
    config.width = width;
    config.height = height;
    if (second >= 0)
        config.pattern = pictureFromName(value.mid(second + 1));
    return config;
}

} // namespace talvora
