#pragma once

#include <QHostAddress>

#include <atomic>
#include <mutex>

namespace talvora {

// The phone's fields that the video sender reads and writes: FSendVideo, the peer's address
// (set by the call session when a call connects) and FJpegQuality. The sender calls them from
// the thread that runs VideoSender::sendFrame, which in the phone is the capture thread: an
// implementation whose fields another thread writes must make these calls safe there.
class VideoSendState {
public:
    virtual ~VideoSendState() = default;

    virtual bool isSendingVideo() const = 0;
    // Where pictures go: the peer's address, looked up once when the call connected. Nothing
    // is resolved per picture; a null address makes every send fail.
    virtual QHostAddress videoDestination() const = 0;
    virtual int jpegQuality() const = 0;
    virtual void setJpegQuality(int quality) = 0;
};

// The same fields in one place, safe to set from one thread while the sender reads them on
// another.
class VideoSendFields : public VideoSendState {
public:
    std::atomic<bool> sending{false};
    std::atomic<int> quality{100};

    void setDestination(const QHostAddress& destination) {
        const std::lock_guard lock(m_mutex);
        m_destination = destination;
    }

    bool isSendingVideo() const override { return sending; }
    QHostAddress videoDestination() const override {
        const std::lock_guard lock(m_mutex);
        return m_destination;
    }
    int jpegQuality() const override { return quality; }
    void setJpegQuality(int q) override { quality = q; }

private:
    mutable std::mutex m_mutex;
    QHostAddress m_destination; // guarded by m_mutex
};

} // namespace talvora
