#include "ui/CaptureSourceDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

namespace talvora {

namespace {

QString widgetName(quint32 id) {
    return QStringLiteral("control%1").arg(id);
}

} // namespace

CaptureSourceDialog::CaptureSourceDialog(CaptureBackend& backend, QWidget* parent, CameraChooser chooser)
    : QDialog(parent), m_backend(backend), m_chooser(std::move(chooser)) {
    setWindowTitle(QStringLiteral("Video Source"));
    build();
}

void CaptureSourceDialog::build() {
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    addCameraChoice(form);

    const QList<CaptureInput> inputs = m_backend.inputs();
    if (inputs.size() > 1) {
        m_inputs = new QComboBox(this);
        m_inputs->setObjectName(QStringLiteral("inputs"));
        for (const CaptureInput& input : inputs)
            m_inputs->addItem(input.name, input.index);
        m_inputs->setCurrentIndex(m_inputs->findData(m_backend.currentInput()));
        connect(m_inputs, &QComboBox::activated, this, [this](int row) {
            if (!m_backend.setInput(m_inputs->itemData(row).toInt()))
                m_problem->setText(QStringLiteral("The device refused this input."));
            refresh();
        });
        form->addRow(QStringLiteral("Input"), m_inputs);
    }

    for (const CaptureControl& control : m_backend.controls()) {
        const quint32 id = control.id;
        QWidget* widget = nullptr;
        switch (control.kind) {
        case CaptureControl::Kind::Integer: {
            auto* row = new QWidget(this);
            auto* rowLayout = new QHBoxLayout(row);
            rowLayout->setContentsMargins(0, 0, 0, 0);
            auto* slider = new QSlider(Qt::Horizontal, row);
            slider->setAccessibleName(control.name); // the form's caption names the row, not it
            slider->setRange(control.minimum, control.maximum);
            slider->setSingleStep(control.step);
            slider->setPageStep(std::max(control.step, (control.maximum - control.minimum) / 10));
            slider->setValue(control.value);
            auto* value = new QLabel(QString::number(control.value), row);
            value->setMinimumWidth(value->fontMetrics().horizontalAdvance(QStringLiteral("-00000")));
            rowLayout->addWidget(slider);
            rowLayout->addWidget(value);
            connect(slider, &QSlider::valueChanged, this, [this, id, value](int v) {
                value->setText(QString::number(v));
                apply(id, v);
            });
            m_valueLabels.insert(id, value);
            widget = slider;
            form->addRow(control.name, row);
            break;
        }
        case CaptureControl::Kind::Boolean: {
            auto* box = new QCheckBox(this);
            box->setChecked(control.value != 0);
            connect(box, &QCheckBox::toggled, this, [this, id](bool on) { apply(id, on ? 1 : 0); });
            widget = box;
            form->addRow(control.name, box);
            break;
        }
        case CaptureControl::Kind::Menu: {
            auto* combo = new QComboBox(this);
            for (const CaptureControl::MenuItem& item : control.menu)
                combo->addItem(item.name, item.value);
            combo->setCurrentIndex(combo->findData(control.value));
            connect(combo, &QComboBox::activated, this,
                    [this, id, combo](int row) { apply(id, combo->itemData(row).toInt()); });
            widget = combo;
            form->addRow(control.name, combo);
            break;
        }
        case CaptureControl::Kind::Button: {
            auto* button = new QPushButton(control.name, this);
            connect(button, &QPushButton::clicked, this, [this, id] { apply(id, 1); });
            widget = button;
            form->addRow(QString(), button);
            break;
        }
        }
        widget->setObjectName(widgetName(id));
        widget->setEnabled(!control.readOnly && !control.inactive);
        m_widgets.insert(id, widget);
    }
    if (m_widgets.isEmpty() && !m_inputs && !m_cameras)
        form->addRow(new QLabel(QStringLiteral("This device has no adjustable settings."), this));

    m_problem = new QLabel(this);
    m_problem->setObjectName(QStringLiteral("problem"));
    layout->addWidget(m_problem);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close | QDialogButtonBox::RestoreDefaults, this);
    connect(buttons->button(QDialogButtonBox::RestoreDefaults), &QPushButton::clicked, this,
            &CaptureSourceDialog::restoreDefaults);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

void CaptureSourceDialog::addCameraChoice(QFormLayout* form) {
    const QList<CaptureDevice> cameras = m_chooser ? m_backend.devices() : QList<CaptureDevice>();
    if (cameras.size() < 2)
        return;
    m_cameras = new QComboBox(this);
    m_cameras->setObjectName(QStringLiteral("cameras"));
    for (const CaptureDevice& camera : cameras)
        m_cameras->addItem(QStringLiteral("%1 (%2)").arg(camera.name, camera.path), camera.index);
    CaptureDriverCaps caps;
    if (m_backend.getDriverCaps(caps))
        m_cameras->setCurrentIndex(m_cameras->findData(int(caps.deviceIndex)));
    connect(m_cameras, &QComboBox::activated, this, [this](int row) {
        m_chooser(m_cameras->itemData(row).toInt());
        // The combo box is still in its signal: the widgets are built anew from the event loop.
        QMetaObject::invokeMethod(this, &CaptureSourceDialog::rebuild, Qt::QueuedConnection);
    });
    form->addRow(QStringLiteral("Camera"), m_cameras);
}

// Another camera has other controls and inputs.
void CaptureSourceDialog::rebuild() {
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        delete child;
    delete layout();
    m_widgets.clear();
    m_valueLabels.clear();
    m_inputs = nullptr;
    m_cameras = nullptr;
    m_problem = nullptr;
    build();
}

void CaptureSourceDialog::apply(quint32 id, qint32 value) {
    m_problem->clear();
    if (!m_backend.setControl(id, value))
        m_problem->setText(QStringLiteral("The device refused this setting."));
    refresh();
}

void CaptureSourceDialog::restoreDefaults() {
    for (const CaptureControl& control : m_backend.controls()) {
        if (!control.readOnly && !control.inactive && control.kind != CaptureControl::Kind::Button &&
            control.value != control.defaultValue)
            m_backend.setControl(control.id, control.defaultValue);
    }
    refresh();
}

// Shows the device's values and states without sending them back.
void CaptureSourceDialog::refresh() {
    if (m_inputs) {
        const QSignalBlocker blocker(m_inputs);
        m_inputs->setCurrentIndex(m_inputs->findData(m_backend.currentInput()));
    }
    for (const CaptureControl& control : m_backend.controls()) {
        QWidget* widget = m_widgets.value(control.id);
        if (!widget)
            continue;
        const QSignalBlocker blocker(widget);
        widget->setEnabled(!control.readOnly && !control.inactive);
        if (auto* slider = qobject_cast<QSlider*>(widget)) {
            slider->setValue(control.value);
            if (QLabel* label = m_valueLabels.value(control.id))
                label->setText(QString::number(control.value));
        } else if (auto* box = qobject_cast<QCheckBox*>(widget)) {
            box->setChecked(control.value != 0);
        } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            combo->setCurrentIndex(combo->findData(control.value));
        }
    }
}

} // namespace talvora
