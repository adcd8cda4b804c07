#include "app/CommandLine.h"
#include "app/Program.h"
#include "base/MessageService.h"
#include "ui/Fonts.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QIcon>
#include <QScreen>

#include <cstdio>
#include <memory>

int main(int argc, char** argv) {
    using namespace talvora;

    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    const CommandLine options = parseCommandLine(arguments);
    switch (options.action) {
    case CommandLine::Action::ShowHelp:
    case CommandLine::Action::ShowVersion:
        std::fputs(qPrintable(options.output), stdout);
        return 0;
    case CommandLine::Action::Fail:
        std::fprintf(stderr, "talvora: %s\nTry 'talvora --help'.\n", qPrintable(options.output));
        return 2;
    case CommandLine::Action::Run:
        break;
    }

    QApplication app(argc, argv);
    // The application name is also the class of the windows (WM_CLASS), which the desktop entry
    // names in StartupWMClass; the desktop file name ties the windows to that entry where the
    // desktop asks the program itself (Wayland's app id, KDE). No display name is set: Qt would
    // append it to every window title, and the titles are the windows' names to the desktop.
    QApplication::setApplicationName(QStringLiteral("talvora"));
    QApplication::setApplicationVersion(QStringLiteral(TALVORA_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral(TALVORA_APP_ID));
    // The installed icon when the theme has it, the built-in drawing of it otherwise.
    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral(TALVORA_APP_ID), QIcon(QStringLiteral(":/" TALVORA_APP_ID ".svg"))));
    installFontSubstitutes();

    std::unique_ptr<Program> program;
    try {
        program = std::make_unique<Program>(options, QCoreApplication::applicationDirPath());
    } catch (const Error& e) {
        std::fprintf(stderr, "talvora: %s\n", qPrintable(e.text()));
        return 2;
    }
    MainWindow& main = program->mainWindow();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        main.move(screen->availableGeometry().center() - main.rect().center());
    }
    main.show();
    main.activateWindow();
    return QApplication::exec();
}
