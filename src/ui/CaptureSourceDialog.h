#pragma once

#include <QDialog>
#include <QHash>

#include "capture/CaptureBackend.h"

class QComboBox;
class QLabel;

namespace talvora {

// The video source dialog of a capture device, built from what the device enumerates: one
// slider, check box, menu or button per picture control and a choice of inputs when there is
// more than one. Every change goes to the device at once; the dialog then re-reads the
// controls, because one control can switch others on or off (automatic exposure and the
// exposure time). Control widgets are named "control<id>", the input choice "inputs".
class CaptureSourceDialog final : public QDialog {
    Q_OBJECT
public:
    CaptureSourceDialog(CaptureBackend& backend, QWidget* parent = nullptr);

    // Sets every writable control back to its default value.
    void restoreDefaults();

private:
    void build();
    void apply(quint32 id, qint32 value);
    void refresh();

    CaptureBackend& m_backend;
    QHash<quint32, QWidget*> m_widgets;
    QHash<quint32, QLabel*> m_valueLabels;
    QComboBox* m_inputs = nullptr;
    QLabel* m_problem = nullptr;
};

} // namespace talvora
