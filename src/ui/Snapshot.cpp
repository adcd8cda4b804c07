#include "ui/Snapshot.h"

#include "ui/PictureView.h"

#include <QClipboard>
#include <QGuiApplication>

namespace talvora {

bool copyPictureToClipboard(const QImage& picture, QClipboard* clipboard) {
    if (picture.isNull()) {
        return false;
    }
    if (clipboard == nullptr) {
        clipboard = QGuiApplication::clipboard();
    }
    clipboard->setImage(picture, QClipboard::Clipboard);
    return true;
}

bool takeSnapshot(const PictureView& view, QClipboard* clipboard) {
    return copyPictureToClipboard(view.picture(), clipboard);
}

} // namespace talvora
