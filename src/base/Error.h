#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

namespace talvora {

// An error that reaches a handler: it carries the exact text the user is shown.
class Error : public std::exception {
public:
    explicit Error(QString text) : m_text(std::move(text)), m_utf8(m_text.toUtf8()) {}

    const QString& text() const noexcept { return m_text; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_text;
    QByteArray m_utf8;
};

} // namespace talvora
