#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

namespace talvora {

// The capture settings record of a capture window, field for field. Only a few fields change
// what this program does; the others are kept as the driver reported them so that a record
// read, changed and written back loses nothing.
struct CaptureParms {
    quint32 dwRequestMicroSecPerFrame = 66667;
    bool fMakeUserHitOKToCapture = false;
    quint32 wPercentDropForError = 10;
    bool fYield = false;
    quint32 dwIndexSize = 0;
    quint32 wChunkGranularity = 0;
    bool fUsingDOSMemory = false;
    quint32 wNumVideoRequested = 4;
    bool fCaptureAudio = false;
    quint32 wNumAudioRequested = 4;
    quint32 vKeyAbort = 27;
    bool fAbortLeftMouse = true;
    bool fAbortRightMouse = true;
    bool fLimitEnabled = false;
    quint32 wTimeLimit = 30;
    bool fMCIControl = false;
    bool fStepMCIDevice = false;
    quint32 dwMCIStartTime = 0;
    quint32 dwMCIStopTime = 0;
    bool fStepCaptureAt2x = false;
    quint32 wStepCaptureAverageFrames = 3;
    quint32 dwAudioBufferSize = 0;
    bool fDisableWriteCache = false;
    quint32 AVStreamMaster = 0;

    bool operator==(const CaptureParms&) const = default;
};

// The capabilities of a connected driver; the options dialog reads the two dialog flags.
struct CaptureDriverCaps {
    quint32 wDeviceIndex = 0;
    bool fHasOverlay = false;
    bool fHasDlgVideoSource = false;
    bool fHasDlgVideoFormat = false;
    bool fHasDlgVideoDisplay = false;
    bool fCaptureInitialized = false;
    bool fDriverSuppliesPalettes = false;
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
