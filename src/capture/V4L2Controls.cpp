#include "capture/V4L2Controls.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <optional>

namespace talvora {

namespace {

constexpr quint32 kMaxInputs = 64;
constexpr quint32 kMaxPrivateControls = 64;
constexpr quint32 kMaxControls = 1024;
constexpr qint64 kMaxMenuItems = 256;

std::optional<CaptureControl::Kind> kindOf(quint32 type) {
    switch (type) {
    case V4L2_CTRL_TYPE_INTEGER:
        return CaptureControl::Kind::Integer;
    case V4L2_CTRL_TYPE_BOOLEAN:
        return CaptureControl::Kind::Boolean;
    case V4L2_CTRL_TYPE_MENU:
    case V4L2_CTRL_TYPE_INTEGER_MENU:
        return CaptureControl::Kind::Menu;
    case V4L2_CTRL_TYPE_BUTTON:
        return CaptureControl::Kind::Button;
    default:
        return std::nullopt; // classes, strings and compound controls have no place in the dialog
    }
}

// The dialog's view of one control, or nothing when the dialog has no place for it.
std::optional<CaptureControl> describe(V4L2Device& device, int fd, const v4l2_queryctrl& query) {
    if (query.flags & V4L2_CTRL_FLAG_DISABLED)
        return std::nullopt;
    const std::optional<CaptureControl::Kind> kind = kindOf(query.type);
    if (!kind || query.minimum > query.maximum)
        return std::nullopt;
    CaptureControl control;
    control.kind = *kind;
    control.id = query.id;
    control.name = kernelText(query.name, sizeof query.name);
    control.minimum = query.minimum;
    control.maximum = query.maximum;
    control.step = std::max<qint32>(1, query.step);
    control.defaultValue = query.default_value;
    control.value = query.default_value;
    control.readOnly = (query.flags & (V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_GRABBED)) != 0;
    control.inactive = (query.flags & V4L2_CTRL_FLAG_INACTIVE) != 0;
    if (control.kind == CaptureControl::Kind::Menu) {
        if (qint64(query.maximum) - query.minimum >= kMaxMenuItems)
            return std::nullopt;
        for (qint32 item = query.minimum; item <= query.maximum; ++item) {
            v4l2_querymenu menu{};
            menu.id = query.id;
            menu.index = quint32(item);
            if (xioctl(device, fd, VIDIOC_QUERYMENU, &menu) < 0)
                continue; // menus may have gaps
            const QString name = query.type == V4L2_CTRL_TYPE_MENU ? kernelText(menu.name, sizeof menu.name)
                                                                   : QString::number(qlonglong(menu.value));
            control.menu.append({item, name});
        }
        if (control.menu.isEmpty())
            return std::nullopt;
    }
    if (control.kind != CaptureControl::Kind::Button) {
        v4l2_control current{};
        current.id = query.id;
        if (xioctl(device, fd, VIDIOC_G_CTRL, &current) == 0)
            control.value = current.value;
    }
    return control;
}

} // namespace

QList<CaptureControl> queryControls(V4L2Device& device, int fd) {
    QList<CaptureControl> result;
    const auto add = [&](const v4l2_queryctrl& query) {
        if (std::optional<CaptureControl> control = describe(device, fd, query))
            result.append(*control);
    };

    v4l2_queryctrl query{};
    query.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    if (xioctl(device, fd, VIDIOC_QUERYCTRL, &query) == 0) {
        for (quint32 count = 0; count < kMaxControls; ++count) {
            add(query);
            query.id |= V4L2_CTRL_FLAG_NEXT_CTRL;
            if (xioctl(device, fd, VIDIOC_QUERYCTRL, &query) < 0)
                break;
        }
        return result;
    }
    // Older drivers: walk the user class and the private range.
    for (quint32 id = V4L2_CID_BASE; id < V4L2_CID_LASTP1; ++id) {
        v4l2_queryctrl one{};
        one.id = id;
        if (xioctl(device, fd, VIDIOC_QUERYCTRL, &one) == 0)
            add(one);
    }
    for (quint32 id = V4L2_CID_PRIVATE_BASE; id < V4L2_CID_PRIVATE_BASE + kMaxPrivateControls; ++id) {
        v4l2_queryctrl one{};
        one.id = id;
        if (xioctl(device, fd, VIDIOC_QUERYCTRL, &one) < 0)
            break;
        add(one);
    }
    return result;
}

bool setControlValue(V4L2Device& device, int fd, quint32 id, qint32 value) {
    v4l2_control control{};
    control.id = id;
    control.value = value;
    return xioctl(device, fd, VIDIOC_S_CTRL, &control) == 0;
}

QList<CaptureInput> queryInputs(V4L2Device& device, int fd) {
    QList<CaptureInput> result;
    for (quint32 i = 0; i < kMaxInputs; ++i) {
        v4l2_input input{};
        input.index = i;
        if (xioctl(device, fd, VIDIOC_ENUMINPUT, &input) < 0)
            break;
        result.append({int(i), kernelText(input.name, sizeof input.name)});
    }
    return result;
}

int queryCurrentInput(V4L2Device& device, int fd) {
    int index = 0;
    if (xioctl(device, fd, VIDIOC_G_INPUT, &index) < 0)
        return -1;
    return index;
}

bool selectInput(V4L2Device& device, int fd, int index) {
    int value = index;
    return xioctl(device, fd, VIDIOC_S_INPUT, &value) == 0;
}

} // namespace talvora
