#pragma once

#include <QList>

#include "capture/CaptureSettings.h"
#include "capture/V4L2Device.h"

namespace talvora {

// What the source dialog offers of a V4L2 camera: its picture controls and its inputs, read
// and set on an open descriptor. Enumerations are bounded, so that a broken driver cannot make
// the dialog loop for ever.

// The controls the dialog can show (integers, booleans, menus and buttons), with their current
// values; disabled controls, empty menus and other control types are left out.
QList<CaptureControl> queryControls(V4L2Device& device, int fd);
bool setControlValue(V4L2Device& device, int fd, quint32 id, qint32 value);

QList<CaptureInput> queryInputs(V4L2Device& device, int fd);
// The selected input, or -1 when the driver does not say.
int queryCurrentInput(V4L2Device& device, int fd);
// Selects an input; the stream must be stopped (no buffers queued). False with errno set when
// the driver refuses.
bool selectInput(V4L2Device& device, int fd, int index);

} // namespace talvora
