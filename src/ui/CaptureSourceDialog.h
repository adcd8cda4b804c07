#pragma once

#include <QDialog>
#include <QHash>

#include <functional>

#include "capture/CaptureBackend.h"

class QComboBox;
class QFormLayout;
class QLabel;

namespace talvora {

// The video source dialog of a capture device, built from what the device enumerates: one
// slider, check box, menu or button per picture control and a choice of inputs when there is
// more than one. Every change goes to the device at once; the dialog then re-reads the
// controls, because one control can switch others on or off (automatic exposure and the
// exposure time). Control widgets are named "control<id>", the input choice "inputs". With
// several cameras the dialog also offers them by name ("cameras"); choosing one hands its driver
// index to the chooser and shows the controls of the camera then connected.
class CaptureSourceDialog final : public QDialog {
    Q_OBJECT
public:
    using CameraChooser = std::function<void(int driverIndex)>;

    CaptureSourceDialog(CaptureBackend& backend, QWidget* parent = nullptr, CameraChooser chooser = {});

    // Sets every writable control back to its default value.
    void restoreDefaults();

private:
    void build();
    void addCameraChoice(QFormLayout* form);
    void rebuild();
    void apply(quint32 id, qint32 value);
    void refresh();

    CaptureBackend& m_backend;
    CameraChooser m_chooser;
    QComboBox* m_cameras = nullptr;
    QHash<quint32, QWidget*> m_widgets;
    QHash<quint32, QLabel*> m_valueLabels;
    QComboBox* m_inputs = nullptr;
    QLabel* m_problem = nullptr;
};

} // namespace talvora
