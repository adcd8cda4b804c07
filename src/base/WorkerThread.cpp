#include "base/WorkerThread.h"

namespace talvora {

WorkerThread::WorkerThread(const QString& name) {
    m_thread.setObjectName(name);
    m_context = new QObject;
    m_context->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::finished, m_context, &QObject::deleteLater);
    m_thread.start();
}

WorkerThread::~WorkerThread() {
    m_thread.quit();
    m_thread.wait();
}

} // namespace talvora
