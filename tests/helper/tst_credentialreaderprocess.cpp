#include "HelperFixture.h"
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

    void reads_data()
    {
        QTest::addColumn<QByteArray>("keyring"); // "stored", "locked" (stored) or "empty"
        QTest::addColumn<QByteArray>("reader");  // the script run as the reader; none: it is missing
        QTest::addColumn<Answer>("answer");
        const auto keychainFailure = [](int code) {
            return Answer(failure(Error{QStringLiteral("KeychainError"), code,
                                        QStringLiteral("Keychain access failed (%1).").arg(code)}));
        };
        const auto readerFailure = [](Failure cause) {
            return Answer(failure(Error{CredentialReaderProcess::errorDomain(), int(cause), {}}));
        };
        const QByteArray stored = "stored";
        const QByteArray readerPath = READER_PATH;
        QTest::newRow("stored") << stored << "exec " + readerPath << Answer(HelperFixture::credential());
        QTest::newRow("none stored") << QByteArray("empty") << "exec " + readerPath << Answer(std::nullopt);
        // Never a prompt and never "not paired": the helper retries on its own.
        QTest::newRow("locked") << QByteArray("locked") << "exec " + readerPath << keychainFailure(-25308);
        QTest::newRow("no session bus") << stored
                                        << "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus exec " + readerPath
                                        << keychainFailure(-25291);
        QTest::newRow("bus without Secret Service")
            << stored
            << "exec dbus-run-session --config-file=" TESTS_DATA_DIR "/credentials/session-bus-without-secrets.conf -- "
                   + readerPath
            << keychainFailure(-25291);
        // Reported with its cause and never with what the child printed.
        QTest::newRow("missing") << stored << QByteArray() << readerFailure(Failure::notStarted);
        QTest::newRow("not an answer") << stored << QByteArray(R"(printf '%s' "$SECRET")")
                                       << readerFailure(Failure::unreadableAnswer);
        QTest::newRow("an answer with the wrong status")
            << stored << QByteArray(R"(printf '{"credential":"%s"}' "$SECRET"; exit 1)")
            << readerFailure(Failure::unreadableAnswer);
        QTest::newRow("an error without its code")
            << stored << QByteArray(R"(printf '{"error":{"domain":"KeychainError"}}'; exit 1)")
            << readerFailure(Failure::unreadableAnswer);
        QTest::newRow("killed") << stored << QByteArray(R"(printf '{"credential":null}'; kill -9 $$)")
                                << readerFailure(Failure::endedWithoutAnswer);
        QTest::newRow("hangs") << stored << QByteArray(R"(echo $$ >> "$PIDS"; exec sleep 600)")
                               << readerFailure(Failure::timedOut);
    }

    // Read once blocking and once awaited, with the same answer; the keyring is left as it was. A child
    // that hangs is killed, and waiting for it never stands the event loop still.
    void reads()
    {
        QFETCH(QByteArray, keyring);
        QFETCH(QByteArray, reader);
        QFETCH(Answer, answer);
        const QByteArray secret = HelperFixture::credential().toUtf8();
        if (keyring != "empty")
            QVERIFY(TestKeyring::storeRaw(secret));
        if (keyring == "locked")
            QVERIFY(TestKeyring::lockAll());
        const QTemporaryDir folder;
        const QString program = folder.filePath(QStringLiteral("TarnwickCredentialReader"));
        const QString pids = folder.filePath(QStringLiteral("pids"));
        if (!reader.isEmpty())
            QVERIFY(TestFiles::writeScript(program, reader));
        qputenv("SECRET", secret);
        qputenv("PIDS", QFile::encodeName(pids));
        // GLib prints its debug messages to standard output, where the answer goes.
        qputenv("G_MESSAGES_DEBUG", "all");
        // The keyring answers within seconds; a stand-in at once or never.
        const CredentialReaderProcess reading(program, std::chrono::seconds(reader.contains(READER_PATH) ? 30 : 2));

        Answer blocking = reading.read();
        const StallMeter meter;
        const Answer awaited = QCoro::waitFor(reading.readAsync());
        qunsetenv("G_MESSAGES_DEBUG");
        QCOMPARE(awaited, blocking);
        QCOMPARE_LT(meter.longestStallMs(), 1000);
        if (!blocking && blocking.error().domain == CredentialReaderProcess::errorDomain()) {
            QVERIFY(!blocking.error().description.contains(HelperFixture::credential()));
            blocking.error().description.clear();
        }
        QCOMPARE(blocking, answer);
        QCOMPARE(TestKeyring::isDefaultLocked(), keyring == "locked");
        for (const QByteArray &pid : TestFiles::read(pids).split('\n'))
            QVERIFY(pid.isEmpty() || (::kill(pid.toInt(), 0) == -1 && errno == ESRCH));
    }
};

QTEST_GUILESS_MAIN(TestCredentialReaderProcess)
#include "tst_credentialreaderprocess.moc"
