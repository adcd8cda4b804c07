#include "base/LocalAddress.h"

#include <QNetworkInterface>

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

namespace talvora {

namespace {

bool isLoopback(const QHostAddress& a) {
    return a.isLoopback();
}

} // namespace

QString chooseLocalAddress(const QList<QHostAddress>& hostNameAddresses, bool lookupSucceeded,
                           const QList<QHostAddress>& interfaceAddresses) {
    if (!lookupSucceeded || hostNameAddresses.isEmpty()) {
        return {};
    }
    const QHostAddress last = hostNameAddresses.back();
    const bool onlyLoopback = std::all_of(hostNameAddresses.begin(), hostNameAddresses.end(), isLoopback);
    if (!onlyLoopback) {
        return last.toString();
    }
    for (const QHostAddress& a : interfaceAddresses) {
        if (a.protocol() == QHostAddress::IPv4Protocol && !a.isLoopback()) {
            return a.toString();
        }
    }
    return {};
}

QString GetLocalIPAddress() {
    char name[256] = {};
    QList<QHostAddress> found;
    bool lookupSucceeded = false;
    if (::gethostname(name, sizeof name - 1) == 0) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_DGRAM;
        addrinfo* list = nullptr;
        if (::getaddrinfo(name, nullptr, &hints, &list) == 0 && list != nullptr) {
            std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(list, &::freeaddrinfo);
            lookupSucceeded = true;
            for (addrinfo* p = list; p != nullptr; p = p->ai_next) {
                found.append(QHostAddress(p->ai_addr));
            }
        }
    }

    QList<QHostAddress> interfaceAddresses;
    for (const QNetworkInterface& nic : QNetworkInterface::allInterfaces()) {
        const auto flags = nic.flags();
        if (!(flags & QNetworkInterface::IsUp) || !(flags & QNetworkInterface::IsRunning) ||
            (flags & QNetworkInterface::IsLoopBack)) {
            continue;
        }
        for (const QNetworkAddressEntry& e : nic.addressEntries()) {
            interfaceAddresses.append(e.ip());
        }
    }
    return chooseLocalAddress(found, lookupSucceeded, interfaceAddresses);
}

} // namespace talvora
