#pragma once

#include <QString>

namespace talvora {

// What the call session needs of the calling dialog (the window with the die, the status line
// and the Cancel button that the caller sees while it waits; it blocks the main window).
class CallingView {
public:
    virtual ~CallingView() = default;

    virtual void startAnimation() = 0;
    virtual void stopAnimation() = 0;
    virtual void setStatusLine(const QString& text) = 0;
    // Shows the dialog over the main window, which takes no input while it is up, and returns at
    // once; Cancel or closeDialog() ends it.
    virtual void showDialog() = 0;
    // Hides the dialog (does nothing when it is not shown).
    virtual void closeDialog() = 0;
};

} // namespace talvora
