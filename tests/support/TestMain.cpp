// Test main: a headless QApplication around GoogleTest, so that core and window tests share one
// program model with the phone (sockets, timers and message boxes all need an event loop).
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "ui/Fonts.h"

namespace {

// The offscreen platform's default screen is 800x800, too small for the 1000x650 main window
// to be centred the way it is on a desktop; give it a common laptop screen instead.
QByteArray offscreenPlatformWithScreen(const QString& dir) {
    const QString path = dir + "/offscreen.json";
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) {
        f.write(R"({"screens":[{"name":"test","x":0,"y":0,"width":1280,"height":800,)"
                R"("logicalDpi":96,"logicalBaseDpi":96,"dpr":1}]})");
    }
    return "offscreen:configfile=" + path.toUtf8();
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir configDir;
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.isEmpty() || platform == "offscreen") {
        qputenv("QT_QPA_PLATFORM", offscreenPlatformWithScreen(configDir.path()));
    }
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName("talvora-tests");
    talvora::installFontSubstitutes();
    return RUN_ALL_TESTS();
}
