#pragma once

#include <memory>
#include <mutex>

namespace talvora::voice {

// How often a direction running on a silent stand-in tries to get its device back (a device that
// stopped, a sound server that restarted, a headset plugged in again).
inline constexpr int kDeviceRetryMs = 300;

// The device a direction's thread plays into or records from. The thread replaces it mid-call
// (a stand-in for a device that failed, the device again once it can be opened) while stop()
// interrupts it from the main thread; the mutex makes the two meet on one device.
template <class Device> class DeviceSlot {
public:
    // The device in use (the direction's thread, or before it starts).
    Device* get() const { return m_device.get(); }

    // Puts `device` in use and hands back the one it replaces, to be destroyed outside the lock.
    // After interrupt() nothing is put in use: `device` itself comes back.
    std::unique_ptr<Device> replace(std::unique_ptr<Device> device) {
        std::lock_guard lock(m_mutex);
        if (m_interrupted) {
            return device;
        }
        m_device.swap(device);
        return device;
    }

    // From any thread: wakes a blocked read or write and keeps any later device out.
    void interrupt() {
        std::lock_guard lock(m_mutex);
        m_interrupted = true;
        if (m_device) {
            m_device->interrupt();
        }
    }

private:
    std::mutex m_mutex;
    std::unique_ptr<Device> m_device; // replaced only by the direction's thread, under m_mutex
    bool m_interrupted = false;
};

} // namespace talvora::voice
