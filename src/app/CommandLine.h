#pragma once

#include "base/NetworkConfig.h"

#include <QString>
#include <QStringList>

namespace talvora {

// What the command line asked for. Without options the phone behaves as always: settings beside
// the program, ports on every local address, the first webcam.
struct CommandLine {
    enum class Action { Run, ShowHelp, ShowVersion, Fail };
    Action action = Action::Run;
    QString output;          // help or version text, or the error for Fail
    QString configDir;       // --config-dir DIR
    NetworkConfig network;   // --bind ADDRESS
    bool testCamera = false; // --test-camera[=FOURCC[:WIDTHxHEIGHT[:PICTURE]]]
    QString testCameraSpec;  // the part after "=", empty for the default pattern
};

CommandLine parseCommandLine(const QStringList& arguments);

} // namespace talvora
