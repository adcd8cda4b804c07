#pragma once

#include "contacts/NetworkSource.h"

#include <QStringList>

#include <functional>

namespace talvora {

class AddressBook;

// The four result lines of a listed server: "Computer Name: " + comment, "Host Name and Connection
// Path: " + remote name, "Network Provider: " + provider, and an empty line.
QStringList serverLines(const NetworkResource& server);

// Walks the network depth first from its root: every entry whose display type equals `filter`
// (any entry when `filter` is 0) gives its four lines, and every container is walked, whole,
// before the next entry of its parent. A container that cannot be read is skipped. The walk reads
// the source's last snapshot, which is in memory: it runs through without waiting for anything.
QStringList walkNetwork(NetworkSource& source, int resourceType, int filter);

// "Add Host Names To List": a line starting "Computer" sets the current name (the text after its
// first ":" and the blank after it); a line starting "Host" gives the host after its first "\\",
// which is added with the current name unless the book already lists it (case counting), so a
// host listed twice is added once. Other lines, and "Host" lines without "\\", are skipped.
// The lines hold what strangers announced: the name is taken as networkContactName, a host that
// would not read back from its entry (hostReadsBack) is skipped, and so is one the book has no
// room for. Returns how many contacts were added.
int addListedHosts(const QStringList& lines, AddressBook& book);

} // namespace talvora
