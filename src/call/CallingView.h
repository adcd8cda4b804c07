#pragma once

#include <QString>

namespace talvora {

// What the call session needs of the calling dialog (the modal window with the die, the status
// line and the Cancel button that the caller sees while it waits).
class CallingView {
public:
    virtual ~CallingView() = default;

    virtual void startAnimation() = 0;
    virtual void stopAnimation() = 0;
    virtual void setStatusLine(const QString& text) = 0;
    // Shows the dialog and returns only when it is closed; events keep being handled meanwhile.
    virtual void showModal() = 0;
    // Hides the dialog and ends the modal wait (does nothing when it is not shown).
    virtual void closeDialog() = 0;
};

} // namespace talvora
