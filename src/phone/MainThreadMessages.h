#pragma once

#include "base/MessageService.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <functional>

namespace talvora {

// The message boxes of work that runs on another thread (the camera thread's frame buffers):
// each box crosses to the thread that made this object, the window's, and is shown from its
// event loop; a question's answer comes back there too. The caller never waits for a box.
class MainThreadMessages final : public MessageService {
public:
    explicit MainThreadMessages(MessageService& boxes) : m_boxes(boxes) {}

    void information(const QString& caption, const QString& text) override {
        post([this, caption, text] { m_boxes.information(caption, text); });
    }
    void warning(const QString& caption, const QString& text) override {
        post([this, caption, text] { m_boxes.warning(caption, text); });
    }
    void error(const QString& caption, const QString& text) override {
        post([this, caption, text] { m_boxes.error(caption, text); });
    }
    void ask(const QString& caption, const QString& text, std::function<void(bool)> answered) override {
        post([this, caption, text, answered = std::move(answered)] { m_boxes.ask(caption, text, answered); });
    }

private:
    void post(std::function<void()> show) {
        if (QThread::currentThread() == m_home.thread()) {
            show();
        } else {
            QMetaObject::invokeMethod(&m_home, std::move(show), Qt::QueuedConnection);
        }
    }

    MessageService& m_boxes;
    QObject m_home; // on the window's thread; boxes still on their way die with it
};

} // namespace talvora
