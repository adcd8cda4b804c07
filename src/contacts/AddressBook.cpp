#include "contacts/AddressBook.h"

#include "contacts/AddressBookFile.h"
#include "contacts/ContactEntry.h"

#include <algorithm>

namespace talvora {

AddressBook::AddressBook(QObject* parent) : QAbstractListModel(parent) {}

namespace {

qsizetype fileBytes(const QString& entry) {
    return storedLineBytes(entry) + 2;
}

} // namespace

bool AddressBook::canAdd(const QString& entry) const {
    const qsizetype line = storedLineBytes(entry);
    return count() < kAddressBookMaxEntries && line <= kAddressBookMaxLineBytes &&
           m_fileBytes + line + 2 <= kAddressBookEntryBytes;
}

int AddressBook::add(const QString& entry) {
    if (!canAdd(entry)) {
        return -1;
    }
    const QString stored = storableEntry(entry);
    const auto at = std::upper_bound(m_entries.cbegin(), m_entries.cend(), stored, entryLess);
    const int row = int(at - m_entries.cbegin());
    beginInsertRows({}, row, row);
    m_entries.insert(row, stored);
    m_fileBytes += fileBytes(stored);
    endInsertRows();
    m_changed = true;
    return row;
}

int AddressBook::addContact(const QString& name, const QString& address) {
    return add(contactEntry(name, address));
}

void AddressBook::removeAt(int row) {
    if (row < 0 || row >= count()) {
        return;
    }
    beginRemoveRows({}, row, row);
    m_fileBytes -= fileBytes(m_entries.at(row));
    m_entries.removeAt(row);
    endRemoveRows();
    m_changed = true;
}

void AddressBook::clear() {
    beginResetModel();
    m_entries.clear();
    m_fileBytes = 0;
    endResetModel();
    m_changed = true;
}

void AddressBook::replace(QStringList entries) {
    beginResetModel();
    // What a file gives is stored text already, and within the limits (parseAddressBook).
    m_fileBytes = 0;
    for (QString& entry : entries) {
        entry = storableEntry(entry);
        m_fileBytes += fileBytes(entry);
    }
    std::stable_sort(entries.begin(), entries.end(), entryLess);
    m_entries = std::move(entries);
    endResetModel();
    m_changed = false;
}

bool AddressBook::isHostListed(const QString& host) const {
    return std::any_of(m_entries.cbegin(), m_entries.cend(),
                       [&host](const QString& entry) { return listedHost(entry) == host; });
}

int AddressBook::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

QVariant AddressBook::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= count() || (role != Qt::DisplayRole && role != Qt::EditRole)) {
        return {};
    }
    return m_entries.at(index.row());
}

} // namespace talvora
