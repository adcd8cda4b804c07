#include "ui/RbSpinEdit.h"

#include <QLineEdit>

#include <algorithm>

namespace talvora {

RbSpinEdit::RbSpinEdit(QWidget* parent) : QAbstractSpinBox(parent) {
    setAccelerated(false);
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    setValue(m_min);
}

void RbSpinEdit::setRange(int minimum, int maximum) {
    m_min = minimum;
    m_max = qMax(minimum, maximum);
    setValue(value());
}

int RbSpinEdit::value() const {
    bool ok = false;
    const qlonglong typed = text().trimmed().toLongLong(&ok);
    if (!ok) {
        return m_min;
    }
    return static_cast<int>(std::clamp<qlonglong>(typed, m_min, m_max));
}

void RbSpinEdit::setValue(int v) {
    const QString t = QString::number(qBound(m_min, v, m_max));
    if (lineEdit()->text() != t) {
        lineEdit()->setText(t);
    }
}

void RbSpinEdit::stepBy(int steps) {
    setValue(static_cast<int>(std::clamp<qlonglong>(qlonglong(value()) + steps, m_min, m_max)));
    selectAll();
}

QValidator::State RbSpinEdit::validate(QString& input, int&) const {
    // Digits with an optional sign, of any size: the range is applied later, not per keystroke.
    for (qsizetype i = 0; i < input.size(); ++i) {
        const QChar c = input.at(i);
        if (!(c.isDigit() && c.unicode() < 128) && !(i == 0 && (c == u'-' || c == u'+'))) {
            return QValidator::Invalid;
        }
    }
    return QValidator::Acceptable;
}

QAbstractSpinBox::StepEnabled RbSpinEdit::stepEnabled() const {
    StepEnabled e;
    if (value() < m_max) {
        e |= StepUpEnabled;
    }
    if (value() > m_min) {
        e |= StepDownEnabled;
    }
    return e;
}

void RbSpinEdit::focusOutEvent(QFocusEvent* event) {
    setValue(value());
    QAbstractSpinBox::focusOutEvent(event);
}

} // namespace talvora
