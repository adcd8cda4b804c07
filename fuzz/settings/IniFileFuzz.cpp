// "Settings.ini" as a stranger could have left it, and values as a user could type them. The
// input is a file and a value (and a choice of key and section); the target aborts when:
//   - reading gives a value longer than the limit, or one that is no valid UTF-16;
//   - a value written does not read back as storedIniValue says, or writing it moved any other
//     key's value;
//   - writing back the value just read changes the file (a rewrite is byte for byte the same);
//   - a second key written beside the first loses the first.
#include "settings/IniFile.h"
#include "settings/SettingsStore.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QStringList>

#include <cstdio>
#include <cstdlib>

namespace talvora {
namespace {

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

QStringList keyNames() {
    QStringList keys;
    for (const SettingsKeyInfo& info : kSettingsKeys) {
        keys << QString::fromLatin1(info.name);
    }
    keys << QStringLiteral("RINGTIME") << QStringLiteral("other");
    return keys;
}

const QStringList kKeys = keyNames();
const QStringList kSections = {QStringLiteral("Settings"), QStringLiteral("settings"),
                               QStringLiteral("Other")};

// Every key's value in `file`, in kKeys order.
QList<std::optional<QString>> allValues(QByteArrayView file, const QString& section) {
    QList<std::optional<QString>> values;
    for (const QString& key : kKeys) {
        values << iniValue(file, section, key);
    }
    return values;
}

// A value as typed: UTF-16 units straight from the input, lone surrogates and controls included.
QString typedValue(FuzzedDataProvider& in) {
    const std::string bytes = in.ConsumeRandomLengthString(6000);
    QString value;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        value.append(QChar(char16_t(uint8_t(bytes[i]) | uint8_t(bytes[i + 1]) << 8)));
    }
    return value;
}

} // namespace
} // namespace talvora

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace talvora;
    FuzzedDataProvider in(data, size);
    const QString& section = kSections[in.ConsumeIntegralInRange<int>(0, int(kSections.size()) - 1)];
    const int keyIndex = in.ConsumeIntegralInRange<int>(0, int(kKeys.size()) - 1);
    const QString& key = kKeys[keyIndex];
    const QString value = typedValue(in);
    const QString second = typedValue(in);
    const std::string rest = in.ConsumeRemainingBytesAsString();
    const QByteArray file(rest.data(), qsizetype(rest.size()));

    // Reading a file from anywhere.
    const QList<std::optional<QString>> before = allValues(file, section);
    for (const std::optional<QString>& v : before) {
        if (v && (v->size() > kIniMaxValueChars || !v->isValidUtf16())) {
            broken("a value read is too long or not valid UTF-16");
        }
        int number = 0;
        if (v) {
            parseSettingsInteger(*v, number);
        }
    }

    // Writing one key leaves every other as it was and reads back as stored.
    const QByteArray written = withIniValue(file, section, key, value);
    const QString stored = storedIniValue(value);
    if (iniValue(written, section, key) != stored) {
        broken("the value written does not read back");
    }
    const QList<std::optional<QString>> after = allValues(written, section);
    for (int i = 0; i < kKeys.size(); ++i) {
        if (kKeys[i].compare(key, Qt::CaseInsensitive) != 0 && after[i] != before[i]) {
            broken("writing one key changed another");
        }
    }
    // Writing back what was read changes nothing.
    if (withIniValue(written, section, key, stored) != written) {
        broken("rewriting the same value changed the file");
    }
    // A second key beside it.
    int otherIndex = (keyIndex + 1) % kKeys.size();
    if (kKeys[otherIndex].compare(key, Qt::CaseInsensitive) == 0) {
        otherIndex = (otherIndex + 1) % kKeys.size();
    }
    const QString& otherKey = kKeys[otherIndex];
    const QByteArray both = withIniValue(written, section, otherKey, second);
    if (iniValue(both, section, key) != stored ||
        iniValue(both, section, otherKey) != storedIniValue(second)) {
        broken("a second key lost the first");
    }
    return 0;
}
