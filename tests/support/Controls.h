#pragma once

#include <QObject>
#include <QString>

#include <stdexcept>
#include <string>

namespace talvora::test {

// A window's control found by its object name, as users' tools and the tests find it; a missing
// one throws, which fails the test that asked.
template <class T> T* control(const QObject& root, const char* name) {
    T* found = root.findChild<T*>(QString::fromLatin1(name));
    if (found == nullptr) {
        throw std::runtime_error(std::string("no control ") + name);
    }
    return found;
}

} // namespace talvora::test
