#include "contacts/ContactEntry.h"
#include "contacts/AddressBook.h"

#include <gtest/gtest.h>

#include "support/QtPrinters.h"

namespace talvora {
namespace {

TEST(ContactEntry, IsNameBlankAngleAddressAngleWithNothingTrimmed) {
    struct Case {
        const char* name;
        const char* address;
        const char* entry;
    } cases[] = {
        {"Anna", "192.168.1.20", "Anna <192.168.1.20>"}, {"Bob", "host1", "Bob <host1>"}, {"", "B", " <B>"},
        {"  padded ", " x ", "  padded  < x >"},         {"a<b", "c>d", "a<b <c>d>"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(contactEntry(QString::fromUtf8(c.name), QString::fromUtf8(c.address)),
                  QString::fromUtf8(c.entry));
    }
}

TEST(ContactEntry, HailingTakesAllAfterFirstOpeningAngleButTheLastCharacter) {
    struct Case {
        const char* entry;
        const char* address;
    } cases[] = {
        {"Bob <host1>", "host1"},
        {"x<y>z", "y>"},
        {"no angle at all", "no angle at all"},
        {"", ""},
        {" <B>", "B"},
        {"a<", ""},
        {"<", ""},
        {"a<b", ""}, // "b" is the last character, so nothing is left
        {"a<bc", "b"},
        {"n <a<b>>", "a<b>"},
        {"Anna <192.168.1.20>", "192.168.1.20"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hailingAddress(QString::fromUtf8(c.entry)), QString::fromUtf8(c.address)) << c.entry;
    }
}

TEST(ContactEntry, ListedHostIsBetweenFirstOpeningAndFirstClosingAngle) {
    struct Case {
        const char* entry;
        const char* host;
    } cases[] = {
        {"Office <A>", "A"}, {"x<y>z", "y"},      {"no angles", ""}, {"before>only", "before"},
        {"a>b<c", ""}, // ">" before "<"
        {"a<b", ""},   // no ">"
        {"<>", ""},          {"n <a<b>>", "a<b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(listedHost(QString::fromUtf8(c.entry)), QString::fromUtf8(c.host)) << c.entry;
    }
}

TEST(AddressBook, KeepsEntriesSortedWithoutRegardToCase) {
    struct Case {
        QStringList added;
        QStringList listed;
    } cases[] = {
        {{"zed <1>", "Alice <2>"}, {"Alice <2>", "zed <1>"}},
        {{"bob <1>", "Bob <1>", "alice <3>", "BOB <1>"}, {"alice <3>", "bob <1>", "Bob <1>", "BOB <1>"}},
        {{"Bob <2>", "BOB <0>", "bob <1>"}, {"BOB <0>", "bob <1>", "Bob <2>"}},
        {{"Office <A>", " <B>"}, {" <B>", "Office <A>"}}, // a leading blank sorts first
        {{"same", "same", ""}, {"", "same", "same"}},
    };
    for (const auto& c : cases) {
        AddressBook book;
        for (const QString& e : c.added) {
            book.add(e);
        }
        EXPECT_EQ(book.entries(), c.listed);
        EXPECT_TRUE(book.changed());
    }
}

TEST(AddressBook, ReplaceSortsAndCountsAsUnchangedEditsCountAsChanges) {
    AddressBook book;
    book.replace({"c", "A", "b"});
    EXPECT_EQ(book.entries(), (QStringList{"A", "b", "c"}));
    EXPECT_FALSE(book.changed());
    book.removeAt(7); // no such row: nothing happens
    EXPECT_FALSE(book.changed());
    book.removeAt(1);
    EXPECT_EQ(book.entries(), (QStringList{"A", "c"}));
    EXPECT_TRUE(book.changed());
    book.markSaved();
    book.clear();
    EXPECT_TRUE(book.entries().isEmpty());
    EXPECT_TRUE(book.changed());
    EXPECT_EQ(book.addContact("Bob", "host1"), 0);
    EXPECT_EQ(book.data(book.index(0), Qt::DisplayRole).toString(), QStringLiteral("Bob <host1>"));
}

TEST(AddressBook, HostIsListedOnlyWithExactCase) {
    AddressBook book;
    book.replace({"Server <a>", "Office <OFFICE1>", "x<y>z"});
    struct Case {
        const char* host;
        bool listed;
    } cases[] = {{"a", true},        {"A", false}, {"OFFICE1", true},
                 {"office1", false}, {"y", true},  {"y>", false}};
    for (const auto& c : cases) {
        EXPECT_EQ(book.isHostListed(QString::fromUtf8(c.host)), c.listed) << c.host;
    }
}

} // namespace
} // namespace talvora
