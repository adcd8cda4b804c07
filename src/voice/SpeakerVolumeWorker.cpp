#include "voice/SpeakerVolumeWorker.h"

#include <QMetaObject>

#include <utility>

namespace talvora {

SpeakerVolumeWorker::SpeakerVolumeWorker(SpeakerVolume& volume)
    : m_volume(volume), m_thread([this] { run(); }) {}

SpeakerVolumeWorker::~SpeakerVolumeWorker() {
    {
        const std::lock_guard lock(m_lock);
        m_stop = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void SpeakerVolumeWorker::read(std::function<void(const SpeakerVolumeReading&)> done) {
    {
        const std::lock_guard lock(m_lock);
        m_reads.push_back(std::move(done));
    }
    m_wake.notify_one();
}

void SpeakerVolumeWorker::write(quint32 packed) {
    {
        const std::lock_guard lock(m_lock);
        m_write = packed;
    }
    m_wake.notify_one();
}

void SpeakerVolumeWorker::run() {
    std::unique_lock lock(m_lock);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || !m_reads.empty() || m_write; });
        if (m_stop) {
            return;
        }
        // Reads first: the phone reads once, at its start, before the slider writes anything.
        if (!m_reads.empty()) {
            auto done = std::move(m_reads.front());
            m_reads.pop_front();
            lock.unlock();
            const SpeakerVolumeReading reading = m_volume.GetSpeakerVolume();
            // Queued to the asking thread; dropped with m_answers if the worker is gone by then.
            QMetaObject::invokeMethod(
                &m_answers, [done = std::move(done), reading] { done(reading); }, Qt::QueuedConnection);
            lock.lock();
        } else {
            const quint32 packed = *std::exchange(m_write, std::nullopt);
            lock.unlock();
            m_volume.SetSpeakerVolume(packed);
            lock.lock();
        }
    }
}

} // namespace talvora
