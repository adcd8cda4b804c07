#pragma once

#include <QAbstractListModel>
#include <QStringList>

namespace talvora {

// The contact list: the only in-memory copy of the address book, sorted by entryLess, duplicates
// allowed (an entry equal to others goes after them). It is the model of the address book's
// list view. `changed()` tells whether the user changed the list since it was last loaded or
// saved, so that a file read only in part is never overwritten by its unchanged remainder.
//
// Every entry is held as it is stored (storableEntry), and the list never grows beyond what its
// file can hold (the limits of AddressBookFile.h), so that a save always reads back as the list.
class AddressBook : public QAbstractListModel {
    Q_OBJECT
public:
    explicit AddressBook(QObject* parent = nullptr);

    const QStringList& entries() const { return m_entries; }
    int count() const { return int(m_entries.size()); }

    // Whether `entry` can join the list: its line is at most kAddressBookMaxLineBytes, and the
    // file stays within kAddressBookMaxEntries and kAddressBookEntryBytes.
    bool canAdd(const QString& entry) const;
    // Places the entry, as it is stored, at its sorted position and returns that row; -1, adding
    // nothing, when it cannot join the list (canAdd).
    int add(const QString& entry);
    int addContact(const QString& name, const QString& address);
    void removeAt(int row);
    void clear();
    // Replaces the whole list (a load), sorting it; the result counts as unchanged.
    void replace(QStringList entries);

    // Whether an entry already lists `host`, with case counting (listedHost).
    bool isHostListed(const QString& host) const;

    bool changed() const { return m_changed; }
    void markSaved() { m_changed = false; }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    QStringList m_entries;
    qsizetype m_fileBytes = 0; // the entries' lines in the file, each with its CR LF
    bool m_changed = false;
};

} // namespace talvora
