// "IPAddress.dat" as a stranger could have left it, entries as a user could type them, and lines
// of the discovery list as a stranger could announce them. The target aborts when:
//   - reading gives more entries, longer lines or more bytes than the limits, or an entry that
//     holds a line break or a NUL, or says nothing about what it skipped;
//   - the list read, or any list the book took, is written so that it does not read back whole
//     and the same, or is written larger than the reader's limit;
//   - "Add Host Names To List" adds an entry that does not hail its host, or adds a host twice.
#include "contacts/AddressBook.h"
#include "contacts/AddressBookFile.h"
#include "contacts/ContactEntry.h"
#include "contacts/DiscoveryWalk.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>

namespace talvora {
namespace {

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

// The book written out reads back whole, as the same list, within the size limit.
void checkWritesBack(const AddressBook& book) {
    const QByteArray file = addressBookBytes(book.entries());
    if (file.size() > kAddressBookMaxBytes) {
        broken("written larger than the reader's limit");
    }
    const AddressBookText text = parseAddressBook(file, file.size());
    if (!text.whole() || text.entries != book.entries()) {
        broken("the list written does not read back whole and the same");
    }
}

// UTF-16 units straight from the input: lone surrogates, NUL, CR and LF included.
QString rawText(FuzzedDataProvider& in, size_t maxBytes) {
    const std::string bytes = in.ConsumeRandomLengthString(maxBytes);
    QString text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        text.append(QChar(char16_t(uint8_t(bytes[i]) | uint8_t(bytes[i + 1]) << 8)));
    }
    return text;
}

void readAndWriteBack(QByteArrayView file, qsizetype fileSize) {
    const AddressBookText text = parseAddressBook(file, fileSize);
    if (text.entries.size() > kAddressBookMaxEntries) {
        broken("more entries than the limit");
    }
    qsizetype bytes = 0;
    for (const QString& entry : text.entries) {
        if (entry.contains(QLatin1Char('\r')) || entry.contains(QLatin1Char('\n')) ||
            entry.contains(QChar(0))) {
            broken("an entry holds a line break or a NUL");
        }
        const qsizetype line = storedLineBytes(entry);
        if (line > kAddressBookMaxLineBytes) {
            broken("an entry longer than the line limit");
        }
        bytes += line + 2;
    }
    if (bytes > kAddressBookEntryBytes) {
        broken("more bytes than the limit");
    }
    if (describeSkipped(QStringLiteral("IPAddress.dat"), text).isEmpty() != text.whole()) {
        broken("what was skipped is not said");
    }
    AddressBook book;
    book.replace(text.entries);
    checkWritesBack(book);
}

} // namespace
} // namespace talvora

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace talvora;
    FuzzedDataProvider in(data, size);
    const int mode = in.ConsumeIntegralInRange<int>(0, 2);

    if (mode == 0) {
        // A file, read whole or cut by the size limit at any byte.
        const std::string rest = in.ConsumeRemainingBytesAsString();
        const QByteArrayView file(rest.data(), qsizetype(rest.size()));
        readAndWriteBack(file, file.size());
        if (!file.isEmpty()) {
            readAndWriteBack(file.first(qsizetype(data[0]) * file.size() / 256), file.size());
        }
        return 0;
    }

    AddressBook book;
    book.replace({QStringLiteral("Anna <192.168.1.20>"), QStringLiteral("Zed <zed.local>")});
    if (mode == 1) {
        // Entries as typed, added, removed and cleared.
        while (in.remaining_bytes() > 0) {
            const int action = in.ConsumeIntegralInRange<int>(0, 9);
            if (action == 0 && book.count() > 0) {
                book.removeAt(in.ConsumeIntegralInRange<int>(0, book.count() - 1));
            } else if (action == 1) {
                book.clear();
            } else {
                const QString entry = rawText(in, 9000);
                const int row = book.add(entry);
                if (row >= 0 && book.entries().at(row) != storableEntry(entry)) {
                    broken("the book holds other than the stored entry");
                }
            }
        }
        checkWritesBack(book);
        return 0;
    }

    // The discovery's list: names and hosts as announced, listed twice.
    QStringList lines;
    while (in.remaining_bytes() > 0) {
        lines << QStringLiteral("Computer Name: ") + rawText(in, 600)
              << QStringLiteral("Host Name and Connection Path: \\\\") + rawText(in, 600)
              << QStringLiteral("Network Provider: Talvora phone") << QString();
    }
    const int before = book.count();
    const int added = addListedHosts(lines, book);
    if (book.count() != before + added || addListedHosts(lines, book) != 0) {
        broken("a host was added twice");
    }
    for (const QString& entry : book.entries()) {
        if (entry != QStringLiteral("Anna <192.168.1.20>") && entry != QStringLiteral("Zed <zed.local>") &&
            hailingAddress(entry) != listedHost(entry)) {
            broken("an added entry does not hail the host it lists");
        }
    }
    checkWritesBack(book);
    return 0;
}
