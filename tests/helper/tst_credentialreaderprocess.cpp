#include "StallMeter.h"
#include "TestFiles.h"
#include "TestKeyring.h"

#include "CredentialReaderProcess.h"

#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>

using Answer = CredentialReading::Answer;
using Failure = CredentialReaderProcess::Failure;

Q_DECLARE_METATYPE(Answer)

namespace {

const QString token = QStringLiteral("twk_device_3F2504E0-4F89-41D3-9A0C-0305E82C3301."
                                     "abcdefghijklmnopqrstuvwxyz_ABCDEFGHIJKLMNOP");

}

// The reader program on the session's real keyring, and what the helper makes of a reader that fails.
class TestCredentialReaderProcess : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        if (TestKeyring::isDefaultLocked())
            QVERIFY(TestKeyring::unlockDefault());
        QVERIFY(TestKeyring::deleteCredentialItems());
    }

    void readsTheKeyring_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<bool>("locked");
        QTest::addColumn<QByteArray>("launch"); // how a script starts the reader instead; empty: directly
        QTest::addColumn<Answer>("answer");
        const auto keychainFailure = [](int code, const QString &description) {
            return Answer(failure(Error{QStringLiteral("KeychainError"), code, description}));
        };
        const QByteArray twk = token.toUtf8();
        const Answer unreachable = keychainFailure(-25291, QStringLiteral("Keychain access failed (-25291)."));
        QTest::newRow("stored") << twk << false << QByteArray() << Answer(token);
        QTest::newRow("none stored") << QByteArray() << false << QByteArray() << Answer(std::nullopt);
        // Never a prompt and never "not paired": the helper retries on its own.
        QTest::newRow("locked") << twk << true << QByteArray()
                                << keychainFailure(-25308, QStringLiteral("Keychain access failed (-25308)."));
        QTest::newRow("no session bus") << twk << false
                                        << QByteArray("DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus exec")
                                        << unreachable;
        QTest::newRow("bus without Secret Service") << twk << false
                                                    << QByteArray("exec dbus-run-session --config-file=" TESTS_DATA_DIR
                                                                  "/credentials/session-bus-without-secrets.conf --")
                                                    << unreachable;
    }

    // Read once blocking and once awaited, with the same answer.
    void readsTheKeyring()
    {
        QFETCH(QByteArray, stored);
        QFETCH(bool, locked);
        QFETCH(QByteArray, launch);
        QFETCH(Answer, answer);
        if (!stored.isEmpty())
            QVERIFY(TestKeyring::storeRaw(stored));
        if (locked)
            QVERIFY(TestKeyring::lockAll());
        const QTemporaryDir folder;
        QString program = QStringLiteral(READER_PATH);
        if (!launch.isEmpty()) {
            program = folder.filePath(QStringLiteral("reader"));
            QVERIFY(TestFiles::writeScript(program, launch + " " READER_PATH));
        }
        // GLib prints its debug messages to standard output, where the answer goes.
        qputenv("G_MESSAGES_DEBUG", "all");
        const CredentialReaderProcess reader(program, std::chrono::seconds(30));

        QCOMPARE(reader.read(), answer);
        QCOMPARE(QCoro::waitFor(reader.readAsync()), answer);
        qunsetenv("G_MESSAGES_DEBUG");
        QCOMPARE(TestKeyring::isDefaultLocked(), locked);
    }

    void aFailingReaderIsAFailure_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<Failure>("failure");
        QTest::newRow("missing") << QByteArray() << Failure::notStarted;
        QTest::newRow("not an answer") << QByteArray(R"(printf '%s' "$SECRET")") << Failure::unreadableAnswer;
        QTest::newRow("an answer with the wrong status")
            << QByteArray(R"(printf '{"credential":"%s"}' "$SECRET"; exit 1)") << Failure::unreadableAnswer;
        QTest::newRow("an error without its code")
            << QByteArray(R"(printf '{"error":{"domain":"KeychainError"}}'; exit 1)") << Failure::unreadableAnswer;
        QTest::newRow("killed") << QByteArray(R"(printf '{"credential":null}'; kill -9 $$)")
                                << Failure::endedWithoutAnswer;
        QTest::newRow("hangs") << QByteArray(R"(echo $$ >> "$PIDS"; exec sleep 600)") << Failure::timedOut;
    }

    // Reported with its cause and never with what the child printed; a child that hangs is killed, and
    // waiting for it never stands the event loop still.
    void aFailingReaderIsAFailure()
    {
        QFETCH(QByteArray, script);
        QFETCH(Failure, failure);
        const QTemporaryDir folder;
        const QString program = folder.filePath(QStringLiteral("TarnwickCredentialReader"));
        const QString pids = folder.filePath(QStringLiteral("pids"));
        if (!script.isEmpty())
            QVERIFY(TestFiles::writeScript(program, script));
        qputenv("SECRET", token.toUtf8());
        qputenv("PIDS", QFile::encodeName(pids));
        const CredentialReaderProcess reader(program, std::chrono::seconds(2));

        const Answer blocking = reader.read();
        const StallMeter meter;
        const Answer awaited = QCoro::waitFor(reader.readAsync());

        QVERIFY(!blocking);
        QCOMPARE(blocking.error().domain, CredentialReaderProcess::errorDomain());
        QCOMPARE(blocking.error().code, int(failure));
        QVERIFY(!blocking.error().description.contains(token));
        QCOMPARE(awaited, blocking);
        QCOMPARE_LT(meter.longestStallMs(), 1000);
        const QByteArrayList hung = TestFiles::read(pids).split('\n');
        QCOMPARE(hung.size(), failure == Failure::timedOut ? 3 : 1);
        for (const QByteArray &pid : hung)
            QVERIFY(pid.isEmpty() || (::kill(pid.toInt(), 0) == -1 && errno == ESRCH));
    }
};

QTEST_GUILESS_MAIN(TestCredentialReaderProcess)
#include "tst_credentialreaderprocess.moc"
