#include "capture/FakeV4L2Device.h"

#include <sys/eventfd.h>

#include <QMetaObject>
#include <QThread>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace talvora::test {

namespace {

constexpr off_t kOffsetStride = off_t(1) << 24;

quint32 rowBytes(quint32 pixelFormat, quint32 width) {
    switch (pixelFormat) {
    case V4L2_PIX_FMT_YUYV:
    case V4L2_PIX_FMT_UYVY:
    case V4L2_PIX_FMT_RGB565:
    case V4L2_PIX_FMT_RGB555:
    case V4L2_PIX_FMT_XRGB555:
        return width * 2;
    case V4L2_PIX_FMT_Y41P:
        return (width + 7) / 8 * 12;
    case V4L2_PIX_FMT_GREY:
    case V4L2_PIX_FMT_YUV420:
    case V4L2_PIX_FMT_YVU410:
        return width;
    case V4L2_PIX_FMT_RGB24:
    case V4L2_PIX_FMT_BGR24:
        return width * 3;
    case V4L2_PIX_FMT_MJPEG:
        return 0;
    default:
        return width * 4;
    }
}

void copyName(__u8* dst, std::size_t size, const QString& name) {
    const QByteArray utf8 = name.toUtf8();
    std::memset(dst, 0, size);
    std::memcpy(dst, utf8.constData(), std::min<std::size_t>(size - 1, std::size_t(utf8.size())));
}

} // namespace

FakeV4L2Device::FakeV4L2Device() = default;

FakeV4L2Device::~FakeV4L2Device() {
    for (const auto& [fd, index] : m_open)
        ::close(fd);
}

FakeV4L2Device::Node& FakeV4L2Device::addNode(int index) {
    return addNode(index, Node{});
}

FakeV4L2Device::Node& FakeV4L2Device::addNode(int index, Node node) {
    const std::lock_guard lock(m_lock);
    if (node.formats.isEmpty() && (node.deviceCaps & V4L2_CAP_VIDEO_CAPTURE))
        node.formats.append(Format{V4L2_PIX_FMT_YUYV, {{640, 480}, {320, 240}}, {}, {{1, 30}, {1, 15}}});
    if (!node.formats.isEmpty()) {
        node.pix.pixelformat = node.formats[0].pixelFormat;
        node.pix.width = 640;
        node.pix.height = 480;
        negotiate(node, node.pix);
    }
    return m_nodes[index] = node;
}

FakeV4L2Device::Node FakeV4L2Device::metadataNode() {
    Node node;
    node.card = QStringLiteral("Fake Camera (metadata)");
    node.deviceCaps = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;
    node.inputs.clear();
    return node;
}

FakeV4L2Device::Control FakeV4L2Device::integerControl(quint32 id, const char* name, qint32 min, qint32 max,
                                                       qint32 def) {
    Control control;
    control.query.id = id;
    control.query.type = V4L2_CTRL_TYPE_INTEGER;
    std::strncpy(reinterpret_cast<char*>(control.query.name), name, sizeof control.query.name - 1);
    control.query.minimum = min;
    control.query.maximum = max;
    control.query.step = 1;
    control.query.default_value = def;
    control.value = def;
    return control;
}

int FakeV4L2Device::fail(int error) const {
    errno = error;
    return -1;
}

void FakeV4L2Device::negotiate(Node& node, v4l2_pix_format& pix) const {
    auto format = std::find_if(node.formats.begin(), node.formats.end(),
                               [&](const Format& f) { return f.pixelFormat == pix.pixelformat; });
    if (format == node.formats.end())
        format = node.formats.begin(); // drivers fall back to a format of their own
    pix.pixelformat = format->pixelFormat;
    if (!format->sizes.isEmpty()) {
        auto best = format->sizes.front();
        long bestDistance = -1;
        for (const auto& size : format->sizes) {
            const long distance = std::labs(long(size.first) - long(pix.width)) +
                                  std::labs(long(size.second) - long(pix.height));
            if (bestDistance < 0 || distance < bestDistance) {
                best = size;
                bestDistance = distance;
            }
        }
        pix.width = quint32(best.first);
        pix.height = quint32(best.second);
    } else {
        const auto& s = format->stepwise;
        pix.width = std::clamp(pix.width, s.min_width, s.max_width);
        pix.height = std::clamp(pix.height, s.min_height, s.max_height);
    }
    const quint32 tight = rowBytes(pix.pixelformat, pix.width);
    pix.bytesperline = tight == 0 ? 0 : tight + node.extraBytesPerLine;
    pix.field = V4L2_FIELD_NONE;
    const quint32 bpl = pix.bytesperline;
    switch (pix.pixelformat) {
    case V4L2_PIX_FMT_YUV420:
        pix.sizeimage = bpl * pix.height + 2 * ((bpl + 1) / 2) * ((pix.height + 1) / 2);
        break;
    case V4L2_PIX_FMT_YVU410:
        pix.sizeimage = bpl * pix.height + 2 * ((bpl + 3) / 4) * ((pix.height + 3) / 4);
        break;
    case V4L2_PIX_FMT_MJPEG:
        pix.sizeimage = pix.width * pix.height;
        break;
    default:
        pix.sizeimage = bpl * pix.height;
        break;
    }
}

void FakeV4L2Device::wake(int count) {
    if (m_streamFd < 0)
        return;
    const quint64 value = quint64(count);
    [[maybe_unused]] const ssize_t written = ::write(m_streamFd, &value, sizeof value);
}

void FakeV4L2Device::drainWakeups() {
    if (m_streamFd < 0)
        return;
    quint64 value;
    while (::read(m_streamFd, &value, sizeof value) == ssize_t(sizeof value)) {
    }
}

bool FakeV4L2Device::deliverFrame(const QByteArray& bytes, quint32 flags, quint64 timestampUs) {
    const std::lock_guard lock(m_lock);
    if (!m_streaming)
        return false;
    // The oldest queued buffer that is not yet done, as a driver fills them in queue order.
    for (quint32 i = 0; i < m_buffers.size(); ++i) {
        Buffer& buffer = m_buffers[i];
        if (!buffer.queued || buffer.done)
            continue;
        const std::size_t size = std::min<std::size_t>(buffer.memory.size(), std::size_t(bytes.size()));
        std::memcpy(buffer.memory.data(), bytes.constData(), size);
        buffer.bytesUsed = quint32(size);
        buffer.flags = flags;
        buffer.timestampUs = timestampUs;
        buffer.done = true;
        m_done.push_back({i, false});
        wake();
        return true;
    }
    return false;
}

void FakeV4L2Device::deliverBogusIndex(quint32 index) {
    const std::lock_guard lock(m_lock);
    m_done.push_back({index, true});
    wake();
}

void FakeV4L2Device::unplug(int index) {
    const std::lock_guard lock(m_lock);
    m_nodes.at(index).unplugged = true;
    wake();
}

FakeV4L2Device::Node& FakeV4L2Device::plugIn(int index) {
    Node node = m_nodes.at(index);
    node.unplugged = false;
    node.pix = {};
    node.timePerFrameValue = {1, 30};
    node.input = 0;
    return plugIn(index, node);
}

FakeV4L2Device::Node& FakeV4L2Device::plugIn(int index, Node node) {
    Node& added = addNode(index, std::move(node));
    std::function<void()> changed;
    QObject* watcher = nullptr;
    {
        const std::lock_guard lock(m_lock);
        changed = m_nodesChanged;
        watcher = m_watcher.get();
    }
    // The watcher hears of it on its own thread, as a file-system watcher would tell it; the
    // test goes on once it has.
    if (changed && watcher != nullptr) {
        QMetaObject::invokeMethod(watcher, changed,
                                  QThread::currentThread() == watcher->thread()
                                      ? Qt::DirectConnection
                                      : Qt::BlockingQueuedConnection);
    }
    return added;
}

void FakeV4L2Device::watchNodes(const QString& directory, std::function<void()> changed) {
    const std::lock_guard lock(m_lock);
    m_watchedDirectory = directory;
    m_nodesChanged = std::move(changed);
    m_watcher = std::make_unique<QObject>(); // on the watching thread
}

int FakeV4L2Device::queuedBuffers() const {
    const std::lock_guard lock(m_lock);
    return int(std::count_if(m_buffers.begin(), m_buffers.end(), [](const Buffer& b) { return b.queued; }));
}

int FakeV4L2Device::mappedBuffers() const {
    const std::lock_guard lock(m_lock);
    return int(std::count_if(m_buffers.begin(), m_buffers.end(), [](const Buffer& b) { return b.mapped; }));
}

QList<FakeV4L2Device::Call> FakeV4L2Device::callsOf(unsigned long request) const {
    const std::lock_guard lock(m_lock);
    QList<Call> out;
    for (const Call& call : m_calls) {
        if (call.request == request)
            out.append(call);
    }
    return out;
}

int FakeV4L2Device::open(const char* path, int) {
    const std::lock_guard lock(m_lock);
    const QString text = QString::fromLocal8Bit(path);
    if (!text.startsWith(QLatin1String("/dev/video")))
        return fail(ENOENT);
    bool ok = false;
    const int index = text.mid(10).toInt(&ok);
    const auto node = m_nodes.find(index);
    if (!ok || node == m_nodes.end() || node->second.unplugged)
        return fail(ENOENT);
    if (node->second.openErrno != 0)
        return fail(node->second.openErrno);
    const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC | EFD_SEMAPHORE);
    if (fd < 0)
        return -1;
    m_open[fd] = index;
    return fd;
}

int FakeV4L2Device::close(int fd) {
    const std::lock_guard lock(m_lock);
    if (m_open.erase(fd) == 0)
        return fail(EBADF);
    if (fd == m_streamFd) {
        // Closing the descriptor ends the stream and frees the buffers, as the kernel does.
        m_streaming = false;
        m_done.clear();
        m_buffers.clear();
        m_streamFd = -1;
    }
    return ::close(fd);
}

void* FakeV4L2Device::mmap(std::size_t length, int, int, int fd, off_t offset) {
    const std::lock_guard lock(m_lock);
    if (!m_open.count(fd) || fd != m_streamFd || offset % kOffsetStride != 0) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    const std::size_t index = std::size_t(offset / kOffsetStride);
    if (index >= m_buffers.size() || length > m_buffers[index].memory.size()) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    m_buffers[index].mapped = true;
    return m_buffers[index].memory.data();
}

int FakeV4L2Device::munmap(void* address, std::size_t) {
    const std::lock_guard lock(m_lock);
    for (Buffer& buffer : m_buffers) {
        if (buffer.memory.data() == address && buffer.mapped) {
            buffer.mapped = false;
            return 0;
        }
    }
    return fail(EINVAL);
}

int FakeV4L2Device::ioctl(int fd, unsigned long request, void* arg) {
    const std::lock_guard lock(m_lock);
    const auto open = m_open.find(fd);
    if (open == m_open.end())
        return fail(EBADF);
    Node& node = m_nodes.at(open->second);
    Call call{request};
    if (request == VIDIOC_S_FMT) {
        const auto* f = static_cast<const v4l2_format*>(arg);
        call.pixelFormat = f->fmt.pix.pixelformat;
        call.width = f->fmt.pix.width;
        call.height = f->fmt.pix.height;
    } else if (request == VIDIOC_S_PARM) {
        call.interval = static_cast<const v4l2_streamparm*>(arg)->parm.capture.timeperframe;
    } else if (request == VIDIOC_S_CTRL) {
        call.id = static_cast<const v4l2_control*>(arg)->id;
        call.value = static_cast<const v4l2_control*>(arg)->value;
    } else if (request == VIDIOC_S_INPUT) {
        call.value = *static_cast<const int*>(arg);
    }
    m_calls.push_back(call);
    if (node.unplugged)
        return fail(ENODEV);
    if (node.busy && (request == VIDIOC_S_FMT || request == VIDIOC_REQBUFS || request == VIDIOC_STREAMON))
        return fail(EBUSY);
    if (request == VIDIOC_REQBUFS || request == VIDIOC_QUERYBUF || request == VIDIOC_QBUF ||
        request == VIDIOC_DQBUF || request == VIDIOC_STREAMON || request == VIDIOC_STREAMOFF) {
        if (m_streamFd >= 0 && fd != m_streamFd)
            return fail(EBUSY);
    }
    if (request == VIDIOC_REQBUFS)
        m_streamFd = fd;
    return handle(node, request, arg);
}

int FakeV4L2Device::handle(Node& node, unsigned long request, void* arg) {
    const bool capture = (node.deviceCaps & V4L2_CAP_VIDEO_CAPTURE) != 0;
    switch (request) {
    case VIDIOC_QUERYCAP: {
        auto* cap = static_cast<v4l2_capability*>(arg);
        *cap = {};
        copyName(cap->driver, sizeof cap->driver, QStringLiteral("fakecam"));
        copyName(cap->card, sizeof cap->card, node.card);
        copyName(cap->bus_info, sizeof cap->bus_info, QStringLiteral("usb-fake"));
        cap->capabilities =
            node.deviceCaps | V4L2_CAP_DEVICE_CAPS | V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE;
        cap->device_caps = node.deviceCaps;
        return 0;
    }
    case VIDIOC_ENUM_FMT: {
        auto* desc = static_cast<v4l2_fmtdesc*>(arg);
        if (!capture || desc->type != V4L2_BUF_TYPE_VIDEO_CAPTURE ||
            desc->index >= quint32(node.formats.size()))
            return fail(EINVAL);
        desc->pixelformat = node.formats[int(desc->index)].pixelFormat;
        return 0;
    }
    case VIDIOC_G_FMT: {
        auto* f = static_cast<v4l2_format*>(arg);
        if (!capture || f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
            return fail(EINVAL);
        f->fmt.pix = node.pix;
        return 0;
    }
    case VIDIOC_S_FMT:
    case VIDIOC_TRY_FMT: {
        auto* f = static_cast<v4l2_format*>(arg);
        if (!capture || f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
            return fail(EINVAL);
        if (request == VIDIOC_S_FMT && !m_buffers.empty())
            return fail(EBUSY);
        negotiate(node, f->fmt.pix);
        if (request == VIDIOC_S_FMT)
            node.pix = f->fmt.pix;
        return 0;
    }
    case VIDIOC_ENUM_FRAMESIZES: {
        auto* size = static_cast<v4l2_frmsizeenum*>(arg);
        const auto format = std::find_if(node.formats.begin(), node.formats.end(), [&](const Format& f) {
            return f.pixelFormat == size->pixel_format;
        });
        if (format == node.formats.end())
            return fail(EINVAL);
        if (format->sizes.isEmpty()) {
            if (size->index != 0)
                return fail(EINVAL);
            size->type = V4L2_FRMSIZE_TYPE_STEPWISE;
            size->stepwise = format->stepwise;
            return 0;
        }
        if (size->index >= quint32(format->sizes.size()))
            return fail(EINVAL);
        size->type = V4L2_FRMSIZE_TYPE_DISCRETE;
        size->discrete.width = quint32(format->sizes[int(size->index)].first);
        size->discrete.height = quint32(format->sizes[int(size->index)].second);
        return 0;
    }
    case VIDIOC_ENUM_FRAMEINTERVALS: {
        auto* ival = static_cast<v4l2_frmivalenum*>(arg);
        const auto format = std::find_if(node.formats.begin(), node.formats.end(), [&](const Format& f) {
            return f.pixelFormat == ival->pixel_format;
        });
        if (format == node.formats.end() || ival->index >= quint32(format->intervals.size()))
            return fail(EINVAL);
        ival->type = V4L2_FRMIVAL_TYPE_DISCRETE;
        ival->discrete = format->intervals[int(ival->index)];
        return 0;
    }
    case VIDIOC_G_PARM:
    case VIDIOC_S_PARM: {
        auto* parm = static_cast<v4l2_streamparm*>(arg);
        if (!capture || parm->type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
            return fail(EINVAL);
        if (request == VIDIOC_S_PARM && node.timePerFrame && parm->parm.capture.timeperframe.denominator != 0)
            node.timePerFrameValue = parm->parm.capture.timeperframe;
        parm->parm.capture = {};
        parm->parm.capture.capability = node.timePerFrame ? V4L2_CAP_TIMEPERFRAME : 0;
        parm->parm.capture.timeperframe = node.timePerFrameValue;
        return 0;
    }
    case VIDIOC_REQBUFS: {
        auto* req = static_cast<v4l2_requestbuffers*>(arg);
        if (!capture || req->memory != V4L2_MEMORY_MMAP || req->type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
            return fail(EINVAL);
        if (m_streaming)
            return fail(EBUSY);
        if (req->count == 0) {
            if (mappedBuffers() > 0)
                return fail(EBUSY);
            m_buffers.clear();
            m_done.clear();
            drainWakeups();
            m_streamFd = -1;
            return 0;
        }
        if (!m_buffers.empty())
            return fail(EBUSY);
        const quint32 count = node.grantedBuffers ? std::min(node.grantedBuffers, req->count) : req->count;
        m_buffers.assign(count, Buffer{});
        for (Buffer& buffer : m_buffers)
            buffer.memory.assign(node.pix.sizeimage, 0);
        req->count = count;
        return 0;
    }
    case VIDIOC_QUERYBUF: {
        auto* buf = static_cast<v4l2_buffer*>(arg);
        if (buf->index >= m_buffers.size())
            return fail(EINVAL);
        buf->length = quint32(m_buffers[buf->index].memory.size());
        buf->m.offset = quint32(off_t(buf->index) * kOffsetStride);
        buf->flags = m_buffers[buf->index].queued ? V4L2_BUF_FLAG_QUEUED : 0;
        return 0;
    }
    case VIDIOC_QBUF: {
        auto* buf = static_cast<v4l2_buffer*>(arg);
        if (buf->index >= m_buffers.size() || buf->memory != V4L2_MEMORY_MMAP || m_buffers[buf->index].queued)
            return fail(EINVAL);
        m_buffers[buf->index].queued = true;
        m_buffers[buf->index].done = false;
        return 0;
    }
    case VIDIOC_DQBUF: {
        auto* buf = static_cast<v4l2_buffer*>(arg);
        if (!m_streaming || m_done.empty())
            return fail(EAGAIN);
        const Done done = m_done.front();
        m_done.pop_front();
        quint64 value;
        [[maybe_unused]] const ssize_t got = ::read(m_streamFd, &value, sizeof value);
        buf->index = done.index;
        if (done.bogus) {
            buf->bytesused = 0;
            buf->flags = 0;
            return 0;
        }
        Buffer& buffer = m_buffers[done.index];
        buffer.queued = false;
        buffer.done = false;
        buf->bytesused = buffer.bytesUsed;
        buf->length = quint32(buffer.memory.size());
        buf->flags = buffer.flags;
        buf->timestamp.tv_sec = time_t(buffer.timestampUs / 1000000);
        buf->timestamp.tv_usec = suseconds_t(buffer.timestampUs % 1000000);
        return 0;
    }
    case VIDIOC_STREAMON:
        if (m_buffers.empty())
            return fail(EINVAL);
        m_streaming = true;
        return 0;
    case VIDIOC_STREAMOFF:
        m_streaming = false;
        m_done.clear();
        for (Buffer& buffer : m_buffers) {
            buffer.queued = false;
            buffer.done = false;
        }
        drainWakeups();
        return 0;
    case VIDIOC_QUERYCTRL: {
        auto* query = static_cast<v4l2_queryctrl*>(arg);
        const bool next = (query->id & V4L2_CTRL_FLAG_NEXT_CTRL) != 0;
        const quint32 id = query->id & ~(V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND);
        if (next && node.controlsNeedNextCtrlFallback)
            return fail(EINVAL);
        const Control* found = nullptr;
        for (const Control& control : node.controls) {
            if (next ? control.query.id > id && (!found || control.query.id < found->query.id)
                     : control.query.id == id)
                found = &control;
        }
        if (!found)
            return fail(EINVAL);
        *query = found->query;
        return 0;
    }
    case VIDIOC_QUERYMENU: {
        auto* menu = static_cast<v4l2_querymenu*>(arg);
        for (const Control& control : node.controls) {
            if (control.query.id == menu->id && control.menu.contains(menu->index)) {
                copyName(menu->name, sizeof menu->name, control.menu.value(menu->index));
                return 0;
            }
        }
        return fail(EINVAL);
    }
    case VIDIOC_G_CTRL:
    case VIDIOC_S_CTRL: {
        auto* value = static_cast<v4l2_control*>(arg);
        for (Control& control : node.controls) {
            if (control.query.id != value->id)
                continue;
            if (request == VIDIOC_G_CTRL) {
                value->value = control.value;
                return 0;
            }
            if (control.query.flags & V4L2_CTRL_FLAG_READ_ONLY)
                return fail(EACCES);
            if (value->value < control.query.minimum || value->value > control.query.maximum)
                return fail(ERANGE);
            control.value = value->value;
            return 0;
        }
        return fail(EINVAL);
    }
    case VIDIOC_ENUMINPUT: {
        auto* input = static_cast<v4l2_input*>(arg);
        if (input->index >= quint32(node.inputs.size()))
            return fail(EINVAL);
        copyName(input->name, sizeof input->name, node.inputs[int(input->index)]);
        input->type = V4L2_INPUT_TYPE_CAMERA;
        return 0;
    }
    case VIDIOC_G_INPUT:
        if (node.inputs.isEmpty())
            return fail(ENOTTY);
        *static_cast<int*>(arg) = node.input;
        return 0;
    case VIDIOC_S_INPUT: {
        const int index = *static_cast<int*>(arg);
        if (!m_buffers.empty())
            return fail(EBUSY);
        if (index < 0 || index >= node.inputs.size())
            return fail(EINVAL);
        node.input = index;
        return 0;
    }
    default:
        return fail(ENOTTY);
    }
}

} // namespace talvora::test
