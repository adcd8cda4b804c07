#pragma once

#include "base/MessageService.h"

#include <QList>
#include <QString>

#include <functional>

namespace talvora::test {

// Records every message box instead of showing it, and answers questions from a queue.
class FakeMessageService : public MessageService {
public:
    enum class Kind { Information, Warning, Error, Question };
    struct Box {
        Kind kind;
        QString caption;
        QString text;
    };

    void information(const QString& caption, const QString& text) override {
        record(Kind::Information, caption, text);
    }
    void warning(const QString& caption, const QString& text) override {
        record(Kind::Warning, caption, text);
    }
    void error(const QString& caption, const QString& text) override { record(Kind::Error, caption, text); }
    // Answers at once, from the queue (No when it is empty).
    void ask(const QString& caption, const QString& text, std::function<void(bool)> answered) override {
        record(Kind::Question, caption, text);
        answered(answers.isEmpty() ? false : answers.takeFirst());
    }

    QList<Box> boxes;
    QList<bool> answers;
    // Runs while a box is recorded (what arrives while a box is on screen).
    std::function<void()> whileOpen;

    QStringList texts() const {
        QStringList out;
        for (const auto& b : boxes) {
            out << b.text;
        }
        return out;
    }

private:
    void record(Kind kind, const QString& caption, const QString& text) {
        boxes.append({kind, caption, text});
        if (whileOpen) {
            whileOpen();
        }
    }
};

} // namespace talvora::test
