#pragma once

#include <QAbstractSpinBox>
#include <QLineEdit>

namespace talvora {

// A spin box for whole numbers that lets the user type freely: text that is no integer counts as
// the minimum, and a typed value outside the range is pulled into it when the box loses the
// focus or is stepped with its arrows. value() is always within the range.
class RbSpinEdit : public QAbstractSpinBox {
    Q_OBJECT
public:
    explicit RbSpinEdit(QWidget* parent = nullptr);

    int minimum() const { return m_min; }
    int maximum() const { return m_max; }
    void setRange(int minimum, int maximum);

    // The value the text stands for, pulled into the range.
    int value() const;
    // Shows `v` pulled into the range.
    void setValue(int v);

    void stepBy(int steps) override;

    // The edit line inside, for typing into it from code.
    QLineEdit* editor() const { return lineEdit(); }

protected:
    QValidator::State validate(QString& input, int& pos) const override;
    StepEnabled stepEnabled() const override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    int m_min = 1;
    int m_max = 30;
};

} // namespace talvora
