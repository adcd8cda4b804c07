// "Identity.key" and "VerifiedPeers.dat": their formats byte for byte, what bad files come to
// (a clear message, nothing lost), and how they are written.

#include "secure/IdentityKey.h"
#include "secure/VerifiedPeers.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace talvora {
namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

IdentityPublicKey keyOf(std::uint8_t fill) {
    IdentityPublicKey k{};
    k.fill(fill);
    return k;
}

const QByteArray kAliceLine = QByteArray(64, 'a') + "\t2024-05-01\t192.168.1.20\tAlice Ünal";

TEST(IdentityFile, MadeOnceReadAfterwardsAndNeverOverwritten) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sub/Identity.key"));
    const IdentityLoad made = loadOrCreateIdentity(path);
    ASSERT_EQ(made.source, IdentityLoad::Source::Created) << made.problem.toStdString();
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const IdentityLoad again = loadOrCreateIdentity(path);
    EXPECT_EQ(again.source, IdentityLoad::Source::Read);
    EXPECT_EQ(again.key.publicKey(), made.key.publicKey());

    // The format: comments, and one seed line (CR LF and blank lines allowed).
    const QByteArray seedLine = "ed25519-seed " + QByteArray(64, '0');
    EXPECT_TRUE(parseIdentityFile("# x\r\n\r\n" + seedLine + "\r\n"));
    EXPECT_EQ(parseIdentityFile(seedLine)->publicKey(),
              IdentityKey::fromSeed(IdentityPublicKey{}).publicKey());
    IdentityPublicKey seed{};
    seed.fill(0x3c);
    EXPECT_EQ(IdentityKey::fromSeed(seed).fileBytes(),
              "# Talvora Video Phone identity key. Keep it private: whoever has this file can pass for this "
              "phone.\ned25519-seed " +
                  QByteArray(32, '\x3c').toHex() + "\n");
    for (const QByteArray& bad :
         {QByteArray(), QByteArray("# only a comment\n"), seedLine + "\n" + seedLine,
          seedLine.left(seedLine.size() - 1), "ed25519-seed " + QByteArray(64, 'g')}) {
        EXPECT_FALSE(parseIdentityFile(bad)) << bad.constData();
    }

    // A damaged file: a temporary identity and a message, and the file stays as it was.
    writeAll(path, "not a key\n");
    const IdentityLoad damaged = loadOrCreateIdentity(path);
    EXPECT_EQ(damaged.source, IdentityLoad::Source::Temporary);
    EXPECT_TRUE(damaged.problem.startsWith(QStringLiteral("The identity file ") +
                                           QDir::toNativeSeparators(path) +
                                           QStringLiteral(" is not an identity key file.")))
        << damaged.problem.toStdString();
    EXPECT_EQ(readAll(path), QByteArray("not a key\n"));
}

TEST(VerifiedPeersFile, FormatByteForByteAndBadLinesKept) {
    const QByteArray file = "# mine\n" + kAliceLine + "\r\n\nnonsense\n" + QByteArray(64, 'b') +
                            "\t2024-13-01\tx\ty\n" + QByteArray(64, 'c') + "\t2024-05-02\t10.0.0.3\t";
    const VerifiedPeersText text = parseVerifiedPeers(file);
    ASSERT_EQ(text.lines.size(), 6);
    ASSERT_TRUE(text.lines[1].peer);
    EXPECT_EQ(*text.lines[1].peer,
              (VerifiedPeer{keyOf(0xaa), QDate(2024, 5, 1), QStringLiteral("192.168.1.20"),
                            QStringLiteral("Alice Ünal")}));
    EXPECT_EQ(text.lines[5].peer->name, QString()) << "a name may be empty";
    EXPECT_EQ(text.problems,
              (QStringList{QStringLiteral("line 4: it has 1 fields separated by tabs, not 4"),
                           QStringLiteral("line 5: the date is not a date of the form YYYY-MM-DD")}));
    // Written back: the same lines, LF endings.
    EXPECT_EQ(verifiedPeersBytes(text.lines), QByteArray(file).replace("\r\n", "\n") + "\n");

    const struct {
        QByteArray line;
        const char* why;
    } bad[] = {
        {QByteArray(63, 'a') + "\t2024-05-01\ta\tb", "the identity key is not 64 hex digits"},
        {QByteArray(64, 'a') + "\t2024-5-1\ta\tb", "the date is not a date of the form YYYY-MM-DD"},
        {QByteArray(64, 'a') + "\t2024-05-01\t\tb", "the address is empty"},
        {QByteArray(64, 'a') + "\t2024-05-01\ta\t\xff", "it is not UTF-8 text"},
        {QByteArray(64, 'a') + "\t2024-05-01\ta\tb\tc", "it has 5 fields separated by tabs, not 4"},
        {QByteArray(64, 'a') + "\t2024-05-01\ta\tb\rc", "it holds control characters"},
    };
    for (const auto& c : bad) {
        EXPECT_EQ(parseVerifiedPeers(c.line).problems, QStringList{"line 1: " + QString::fromLatin1(c.why)});
    }
}

TEST(VerifiedPeersFile, MarkingLookingUpAndWritingThroughALink) {
    QTemporaryDir dir;
    const QString real = dir.filePath(QStringLiteral("elsewhere/peers.txt"));
    QDir().mkpath(dir.filePath(QStringLiteral("elsewhere")));
    writeAll(real, "# kept\n" + kAliceLine + "\nodd line\n");
    const QString path = dir.filePath(kVerifiedPeersFileName);
    ASSERT_TRUE(QFile::link(real, path));

    VerifiedPeers peers(path);
    EXPECT_TRUE(peers.load().contains(QStringLiteral("line 3: it has 1 fields")));
    using M = VerifiedPeers::Match;
    EXPECT_EQ(peers.lookup(keyOf(0xaa), QStringLiteral("10.0.0.9")).match, M::Verified)
        << "moved: still known";
    EXPECT_EQ(peers.lookup(keyOf(0xbb), QStringLiteral("192.168.1.20")).match, M::KeyMismatch);
    EXPECT_EQ(peers.lookup(keyOf(0xbb), QStringLiteral("192.168.1.20")).peer.name,
              QStringLiteral("Alice Ünal"));
    EXPECT_EQ(peers.lookup(keyOf(0xbb), QStringLiteral("10.0.0.9")).match, M::Unknown);

    // The new computer at Alice's address, verified: it takes her record's place.
    QString error;
    ASSERT_TRUE(peers.markVerified(
        {keyOf(0xbb), QDate(2024, 6, 2), QStringLiteral("192.168.1.20"), QStringLiteral("Bob\tB.")}, &error))
        << error.toStdString();
    EXPECT_TRUE(QFileInfo(path).isSymLink()) << "the link stays a link";
    EXPECT_EQ(readAll(real),
              "# kept\n" + QByteArray(64, 'b') + "\t2024-06-02\t192.168.1.20\tBob B.\nodd line\n");
    ASSERT_TRUE(peers.forget(keyOf(0xbb), &error));
    EXPECT_EQ(readAll(real), QByteArray("# kept\nodd line\n"));

    // A new file gets a header; a folder where the file should be is never written over.
    VerifiedPeers fresh(dir.filePath(QStringLiteral("new/VerifiedPeers.dat")));
    EXPECT_EQ(fresh.load(), QString());
    ASSERT_TRUE(fresh.markVerified({keyOf(1), QDate(2024, 1, 1), QStringLiteral("a"), QStringLiteral("n")}));
    EXPECT_TRUE(readAll(fresh.path()).startsWith("# Talvora Video Phone: peers"));
    EXPECT_EQ(VerifiedPeers(fresh.path()).load(), QString());
    VerifiedPeers folder(dir.path());
    EXPECT_TRUE(folder.load().contains(QStringLiteral("it is a folder")));
    EXPECT_FALSE(folder.markVerified({keyOf(1), QDate(2024, 1, 1), QStringLiteral("a"), {}}, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("until the phone closes")));
    EXPECT_EQ(folder.lookup(keyOf(1), {}).match, M::Verified) << "verified for this run";
}

} // namespace
} // namespace talvora
