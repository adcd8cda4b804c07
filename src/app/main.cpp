#include "ui/MainWindow.h"
#include "app/Program.h"
#include "app/CommandLine.h"
#include "ui/Fonts.h"
#include "base/MessageService.h"

#include <QApplication>
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
    QApplication::setApplicationName(QStringLiteral("talvora"));
    QApplication::setApplicationVersion(QStringLiteral(TALVORA_VERSION));
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
