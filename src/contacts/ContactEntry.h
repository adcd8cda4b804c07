#pragma once

#include <QString>

namespace talvora {

// A contact is one line of text: the name, a blank, "<", the address and ">". The entry is kept
// as that text; name and address are taken apart again only where they are needed.

// The entry for a name and an address, by concatenation alone: nothing is trimmed or checked.
QString contactEntry(const QString& name, const QString& address);

// The address that picking an entry hails: everything after the first "<" except the entry's
// last character (the closing ">"), or the whole entry when it holds no "<". "x<y>z" hails "y>".
QString hailingAddress(const QString& entry);

// The host an entry already lists, for the discovery's duplicate check: the characters strictly
// between the first "<" and the first ">"; before the first ">" when there is no "<"; empty when
// there is no ">" or it comes before the "<".
QString listedHost(const QString& entry);

// The order of the list: alphabetical over the whole text, without regard to case.
bool entryLess(const QString& a, const QString& b);

// Names from the network are cut to the size of one DNS-SD TXT string: every real announcement
// fits, and the entry stays far within a line of the address book.
inline constexpr qsizetype kNetworkNameMaxBytes = 255;

// A name from the network as the address book takes it: no control characters, at most
// kNetworkNameMaxBytes, and "<" and ">" shown as "‹" and "›", so that the entry's first "<" and
// first ">" are those around the address: the hailing rule and the duplicate check then read
// back the host that was announced.
QString networkContactName(const QString& name);

// Whether the entry for `host` hails `host` and lists it for the duplicate check. A host holding
// a control character, "<" or ">" does not (no host name does), and is never added.
bool hostReadsBack(const QString& host);

} // namespace talvora
