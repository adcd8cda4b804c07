#pragma once

#include <QDialog>
#include <QList>

#include "capture/CaptureBackend.h"

class QComboBox;
class QLabel;

namespace talvora {

// The video format dialog of a capture device: pixel format, frame size and frame rate among
// those the device enumerates and the frame converters read. OK switches the device to the
// choice (restarting its stream); Cancel changes nothing. The combo boxes are named "formats",
// "sizes" and "rates".
class CaptureFormatDialog final : public QDialog {
    Q_OBJECT
public:
    CaptureFormatDialog(CaptureBackend& backend, QWidget* parent = nullptr);

    CaptureFormatChoice selectedChoice() const;

    void accept() override;

private:
    void fillSizes();
    void fillRates();

    CaptureBackend& m_backend;
    QList<CaptureFormatOption> m_options;
    QComboBox* m_formats = nullptr;
    QComboBox* m_sizes = nullptr;
    QComboBox* m_rates = nullptr;
    QLabel* m_problem = nullptr;
    CaptureFormatChoice m_current;
};

} // namespace talvora
