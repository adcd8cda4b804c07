#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

namespace talvora {

// The capture settings the program writes when it connects a driver: the fields it sets of the
// platform's capture-settings record (the other fields described capture to a file, which no
// back end does). A back end keeps the record so that what the program writes reads back
// unchanged; the preview's own rate is set by CaptureBackend::setPreviewRate.
struct CaptureSettings {
    quint32 microSecPerFrame = 66667; // dwRequestMicroSecPerFrame
    bool yield = false;               // fYield
    bool captureAudio = false;        // fCaptureAudio
    quint32 abortKey = 27;            // vKeyAbort, a virtual key code (27 is Escape)
    bool abortLeftMouse = true;       // fAbortLeftMouse
    bool abortRightMouse = true;      // fAbortRightMouse
    bool limitEnabled = false;        // fLimitEnabled
    bool mciControl = false;          // fMCIControl

    bool operator==(const CaptureSettings&) const = default;
};

// What the options dialog learns of a connected driver: which index it is and whether it has
// a source and a format dialog.
struct CaptureDriverCaps {
    quint32 deviceIndex = 0;      // wDeviceIndex
    bool hasSourceDialog = false; // fHasDlgVideoSource
    bool hasFormatDialog = false; // fHasDlgVideoFormat
};

// One picture control of the source dialog.
struct CaptureControl {
    enum class Kind { Integer, Boolean, Menu, Button };
    struct MenuItem {
        qint32 value = 0;
        QString name;
    };

    quint32 id = 0;
    Kind kind = Kind::Integer;
    QString name;
    qint32 minimum = 0;
    qint32 maximum = 0;
    qint32 step = 1;
    qint32 defaultValue = 0;
    qint32 value = 0;
    bool readOnly = false;
    // Present but without effect in the current mode (an automatic mode rules it).
    bool inactive = false;
    QList<MenuItem> menu;
};

struct CaptureInput {
    int index = 0;
    QString name;
};

// A frame interval as a fraction of a second (1/30 is 30 frames a second).
struct FrameInterval {
    quint32 numerator = 1;
    quint32 denominator = 30;

    bool operator==(const FrameInterval&) const = default;
};

struct CaptureFrameSize {
    int width = 0;
    int height = 0;
    QList<FrameInterval> intervals;
};

// One pixel format of the format dialog; `code` is the back end's own identifier.
struct CaptureFormatOption {
    quint32 code = 0;
    QString name;
    QList<CaptureFrameSize> sizes;
};

struct CaptureFormatChoice {
    quint32 code = 0;
    int width = 0;
    int height = 0;
    FrameInterval interval;

    bool operator==(const CaptureFormatChoice&) const = default;
};

} // namespace talvora
