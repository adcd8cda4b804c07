#include "contacts/DiscoveryWalk.h"

#include "contacts/AddressBook.h"
#include "contacts/AddressBookFile.h"
#include "contacts/ContactEntry.h"

namespace talvora {

namespace {

// The network's tree is a few levels deep (root, service types, hosts); a source that reports a
// container inside itself must not recurse without end.
constexpr int kMaxDepth = 16;

struct Walk {
    NetworkSource& source;
    int resourceType;
    int filter;
    QStringList lines;

    void walkContainer(const NetworkResource* container, int depth) {
        if (depth > kMaxDepth) {
            return;
        }
        const std::optional<QList<NetworkResource>> entries = source.readContainer(resourceType, container);
        if (!entries) {
            return;
        }
        for (const NetworkResource& entry : *entries) {
            if (filter == 0 || entry.displayType == filter) {
                lines << serverLines(entry);
            }
            if (entry.isContainer()) {
                walkContainer(&entry, depth + 1);
            }
        }
    }
};

} // namespace

QStringList serverLines(const NetworkResource& server) {
    return {QStringLiteral("Computer Name: ") + server.comment,
            QStringLiteral("Host Name and Connection Path: ") + server.remoteName,
            QStringLiteral("Network Provider: ") + server.provider, QString()};
}

QStringList walkNetwork(NetworkSource& source, int resourceType, int filter) {
    Walk walk{source, resourceType, filter, {}};
    walk.walkContainer(nullptr, 0);
    return walk.lines;
}

int addListedHosts(const QStringList& lines, AddressBook& book) {
    int added = 0;
    QString name;
    for (const QString& line : lines) {
        if (line.startsWith(QLatin1String("Computer"))) {
            const qsizetype colon = line.indexOf(QLatin1Char(':'));
            name = colon < 0 ? QString() : line.mid(colon + 2);
        } else if (line.startsWith(QLatin1String("Host"))) {
            const qsizetype slashes = line.indexOf(QLatin1String("\\\\"));
            if (slashes < 0) {
                continue;
            }
            const QString host = line.mid(slashes + 2);
            if (!hostReadsBack(host)) {
                continue; // its entry would hail another address
            }
            // The check compares the host as the entry will hold it.
            const QString entry = storableEntry(contactEntry(networkContactName(name), host));
            if (!book.isHostListed(listedHost(entry)) && book.add(entry) >= 0) {
                ++added;
            }
        }
    }
    return added;
}

} // namespace talvora
