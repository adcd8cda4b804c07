#include "base/LocalAddress.h"

#include <gtest/gtest.h>

#include "support/QtPrinters.h"

namespace talvora {
namespace {

QList<QHostAddress> addrs(std::initializer_list<const char*> list) {
    QList<QHostAddress> out;
    for (const char* a : list) {
        out.append(QHostAddress(QString(a)));
    }
    return out;
}

TEST(ChooseLocalAddress, Table) {
    struct Case {
        QList<QHostAddress> lookup;
        bool ok;
        QList<QHostAddress> interfaces;
        const char* expected;
    } cases[] = {
        {addrs({"192.0.2.1", "198.51.100.4"}), true, addrs({"10.0.0.1"}), "198.51.100.4"}, // last of the list
        {addrs({"127.0.1.1"}), true, addrs({"127.0.0.1", "192.0.2.8", "192.0.2.9"}), "192.0.2.8"},
        {addrs({"127.0.0.1", "127.0.1.1"}), true, addrs({"fe80::1", "192.0.2.8"}), "192.0.2.8"},
        {addrs({"127.0.1.1"}), true, addrs({}), ""},
        {addrs({"127.0.1.1", "192.0.2.5"}), true, addrs({"192.0.2.8"}), "192.0.2.5"},
        {addrs({}), false, addrs({"192.0.2.8"}), ""}, // no host entry at all
    };
    for (const auto& c : cases) {
        EXPECT_EQ(chooseLocalAddress(c.lookup, c.ok, c.interfaces), QString(c.expected));
    }
}

TEST(GetLocalIPAddress, NeverTheDebianHostNameLoopback) {
    const QString a = GetLocalIPAddress();
    EXPECT_NE(a, "127.0.1.1");
}

} // namespace
} // namespace talvora
