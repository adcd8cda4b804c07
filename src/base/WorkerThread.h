#pragma once

#include <QMetaObject>
#include <QObject>
#include <QString>
#include <QThread>

#include <exception>
#include <type_traits>
#include <utility>

namespace talvora {

// A thread with an event loop of its own, for objects that live there (a camera, a socket), and
// calls into it from other threads that wait for their result, or carry over what they threw.
// A call waits for whatever the thread is doing at the time (one frame, one picture): use it
// for setting up and for the user's commands, never per frame. The thread never calls back this
// way, so the two cannot wait for each other.
class WorkerThread {
public:
    explicit WorkerThread(const QString& name);
    // Ends the event loop once what is queued has run, and waits for the thread.
    ~WorkerThread();

    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    QThread& thread() { return m_thread; }
    bool isCurrent() const { return QThread::currentThread() == &m_thread; }
    // Lives on the thread: what is queued to it runs there.
    QObject* context() const { return m_context; }

    // Runs `work` on the thread and returns its result; at once when already there.
    template <class Work> auto call(Work&& work) const -> std::invoke_result_t<Work> {
        using Result = std::invoke_result_t<Work>;
        if (isCurrent()) {
            return work();
        }
        std::exception_ptr error;
        if constexpr (std::is_void_v<Result>) {
            QMetaObject::invokeMethod(
                m_context,
                [&] {
                    try {
                        work();
                    } catch (...) {
                        error = std::current_exception();
                    }
                },
                Qt::BlockingQueuedConnection);
            if (error) {
                std::rethrow_exception(error);
            }
        } else {
            Result result{};
            QMetaObject::invokeMethod(
                m_context,
                [&] {
                    try {
                        result = work();
                    } catch (...) {
                        error = std::current_exception();
                    }
                },
                Qt::BlockingQueuedConnection);
            if (error) {
                std::rethrow_exception(error);
            }
            return result;
        }
    }

private:
    QThread m_thread;
    QObject* m_context = nullptr; // deleted on the thread as it ends
};

} // namespace talvora
