#include "base/SocketOptions.h"

#include <QAbstractSocket>

#include <sys/socket.h>

namespace talvora {

void disableBroadcast(QAbstractSocket& socket) {
    const qintptr fd = socket.socketDescriptor();
    if (fd < 0) {
        return;
    }
    const int off = 0;
    ::setsockopt(static_cast<int>(fd), SOL_SOCKET, SO_BROADCAST, &off, sizeof off);
}

} // namespace talvora
