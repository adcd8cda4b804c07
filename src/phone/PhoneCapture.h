#pragma once

#include "convert/CaptureFormatSource.h"

namespace talvora {

// What the phone needs of the capture window, which lives among the windows: start it with its
// preview, stop it, and its format for the frame buffers. Frames reach the phone through its
// frame handler (Phone::frameArrived).
class PhoneCapture {
public:
    virtual ~PhoneCapture() = default;

    // Creates the capture window and starts its preview. Throws when no camera can be used.
    virtual void startPreview() = 0;
    // Stops capturing and destroys the capture window.
    virtual void stopCapture() = 0;
    virtual CaptureFormatSource& formatSource() = 0;
};

} // namespace talvora
