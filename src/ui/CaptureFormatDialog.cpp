#include "ui/CaptureFormatDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace talvora {

namespace {

QString rateText(const FrameInterval& interval) {
    const double fps = double(interval.denominator) / double(interval.numerator);
    return QStringLiteral("%1 frames/s").arg(fps, 0, 'g', 4);
}

} // namespace

CaptureFormatDialog::CaptureFormatDialog(CaptureBackend& backend, QWidget* parent)
    : QDialog(parent), m_backend(backend), m_options(backend.formatOptions()),
      m_current(backend.currentFormatChoice()) {
    setWindowTitle(QStringLiteral("Video Format"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    m_formats = new QComboBox(this);
    m_formats->setObjectName(QStringLiteral("formats"));
    m_sizes = new QComboBox(this);
    m_sizes->setObjectName(QStringLiteral("sizes"));
    m_rates = new QComboBox(this);
    m_rates->setObjectName(QStringLiteral("rates"));
    form->addRow(QStringLiteral("Pixel format"), m_formats);
    form->addRow(QStringLiteral("Frame size"), m_sizes);
    form->addRow(QStringLiteral("Frame rate"), m_rates);
    m_problem = new QLabel(this);
    m_problem->setObjectName(QStringLiteral("problem"));
    layout->addWidget(m_problem);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    for (int i = 0; i < m_options.size(); ++i)
        m_formats->addItem(m_options[i].name, i);
    int current = 0;
    for (int i = 0; i < m_options.size(); ++i) {
        if (m_options[i].code == m_current.code)
            current = i;
    }
    m_formats->setCurrentIndex(m_options.isEmpty() ? -1 : current);
    fillSizes();
    connect(m_formats, &QComboBox::currentIndexChanged, this, [this] { fillSizes(); });
    connect(m_sizes, &QComboBox::currentIndexChanged, this, [this] { fillRates(); });
    buttons->button(QDialogButtonBox::Ok)->setEnabled(!m_options.isEmpty());
}

void CaptureFormatDialog::fillSizes() {
    m_sizes->blockSignals(true);
    m_sizes->clear();
    const int format = m_formats->currentIndex();
    if (format >= 0) {
        const QList<CaptureFrameSize>& sizes = m_options[format].sizes;
        int selected = 0;
        for (int i = 0; i < sizes.size(); ++i) {
            m_sizes->addItem(QStringLiteral("%1 x %2").arg(sizes[i].width).arg(sizes[i].height), i);
            if (sizes[i].width == m_current.width && sizes[i].height == m_current.height)
                selected = i;
        }
        m_sizes->setCurrentIndex(sizes.isEmpty() ? -1 : selected);
    }
    m_sizes->blockSignals(false);
    fillRates();
}

void CaptureFormatDialog::fillRates() {
    m_rates->clear();
    const int format = m_formats->currentIndex();
    const int size = m_sizes->currentIndex();
    if (format < 0 || size < 0)
        return;
    const QList<FrameInterval>& intervals = m_options[format].sizes[size].intervals;
    int selected = 0;
    for (int i = 0; i < intervals.size(); ++i) {
        m_rates->addItem(rateText(intervals[i]), i);
        if (intervals[i] == m_current.interval)
            selected = i;
    }
    m_rates->setCurrentIndex(intervals.isEmpty() ? -1 : selected);
}

CaptureFormatChoice CaptureFormatDialog::selectedChoice() const {
    CaptureFormatChoice choice;
    const int format = m_formats->currentIndex();
    const int size = m_sizes->currentIndex();
    if (format < 0 || size < 0)
        return choice;
    const CaptureFormatOption& option = m_options[format];
    choice.code = option.code;
    choice.width = option.sizes[size].width;
    choice.height = option.sizes[size].height;
    const int rate = m_rates->currentIndex();
    if (rate >= 0)
        choice.interval = option.sizes[size].intervals[rate];
    return choice;
}

void CaptureFormatDialog::accept() {
    if (m_formats->currentIndex() < 0 || m_sizes->currentIndex() < 0)
        return;
    if (!m_backend.applyFormatChoice(selectedChoice())) {
        m_problem->setText(QStringLiteral("The device refused this format."));
        return;
    }
    QDialog::accept();
}

} // namespace talvora
