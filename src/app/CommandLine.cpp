#include "app/CommandLine.h"

#include <QCommandLineParser>

namespace talvora {

namespace {

const QString kUsageTail = QStringLiteral(R"(  --test-camera[=FOURCC[:WIDTHxHEIGHT[:PICTURE]]]
                      Use a synthetic moving picture in place of the webcams
                      (default YUY2:384x288:bars; FOURCC is one of RGB, YUY2,
                      UYVY, Y41P, YVU9, I420, Y8, Y211, MJPG; PICTURE is bars
                      or scene, a room that compresses like a webcam's
                      picture).
)");

} // namespace

CommandLine parseCommandLine(const QStringList& arguments) {
    CommandLine result;

    // --test-camera takes an optional value, which QCommandLineParser cannot express.
    QStringList rest;
    for (const QString& a : arguments) {
        if (a == QLatin1String("--test-camera")) {
            result.testCamera = true;
        } else if (a.startsWith(QLatin1String("--test-camera="))) {
            result.testCamera = true;
            result.testCameraSpec = a.mid(int(sizeof("--test-camera=")) - 1);
        } else {
            rest << a;
        }
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Talvora Video Phone: video calls between computers on a local network."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Show the version and exit."));
    const QCommandLineOption configDir(QStringLiteral("config-dir"),
                                       QStringLiteral("Keep Settings.ini and IPAddress.dat in DIR."),
                                       QStringLiteral("DIR"));
    const QCommandLineOption bind(
        QStringLiteral("bind"),
        QStringLiteral("Bind the phone's UDP ports (6767, 8800, 8500) to one local IPv4 "
                       "address, so that several copies can run on one machine."),
        QStringLiteral("ADDRESS"));
    const QCommandLineOption olderPhone(
        QStringLiteral("older-phone"),
        QStringLiteral("Leave UDP port 6768 alone and call as older phones do: no hang-up message, "
                       "no reports, no encryption (to try calls with an older phone)."));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(configDir);
    parser.addOption(bind);
    parser.addOption(olderPhone);

    // The parser takes the program name first.
    if (!parser.parse(QStringList{QStringLiteral("talvora")} + rest)) {
        result.action = CommandLine::Action::Fail;
        result.output = parser.errorText();
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.action = CommandLine::Action::Fail;
        result.output = QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().first());
        return result;
    }
    if (parser.isSet(help)) {
        result.action = CommandLine::Action::ShowHelp;
        // The parser names the running file (or "<executable_name>" before the application
        // object exists); the phone's name reads better.
        QString text = parser.helpText().trimmed();
        text.replace(0, text.indexOf(QLatin1String(" [options]")), QStringLiteral("Usage: talvora"));
        result.output = text + QLatin1Char('\n') + kUsageTail;
        return result;
    }
    if (parser.isSet(version)) {
        result.action = CommandLine::Action::ShowVersion;
        result.output = QStringLiteral("Talvora Video Phone %1\n").arg(QStringLiteral(TALVORA_VERSION));
        return result;
    }
    if (parser.isSet(configDir)) {
        result.configDir = parser.value(configDir);
        if (result.configDir.isEmpty()) {
            result.action = CommandLine::Action::Fail;
            result.output = QStringLiteral("--config-dir needs a directory.");
            return result;
        }
    }
    if (parser.isSet(bind)) {
        QHostAddress address;
        if (!address.setAddress(parser.value(bind)) || address.protocol() != QHostAddress::IPv4Protocol) {
            result.action = CommandLine::Action::Fail;
            result.output =
                QStringLiteral("--bind needs a local IPv4 address, not '%1'.").arg(parser.value(bind));
            return result;
        }
        result.network.bindAddress = address;
    }
    result.network.linkPort = !parser.isSet(olderPhone);
    return result;
}

} // namespace talvora
