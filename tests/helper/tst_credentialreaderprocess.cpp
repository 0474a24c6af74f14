#include "StallMeter.h"
#include "TestKeyring.h"

#include "CredentialReaderProcess.h"

#include <QFile>
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

Answer keychainFailure(int code, const QString &description)
{
    return failure(Error{QStringLiteral("KeychainError"), code, description});
}

// The same reader read once blocking and once awaited; both must give the same answer.
QList<Answer> readBothWays(const CredentialReaderProcess &reader)
{
    const Answer blocking = reader.read();
    return {blocking, QCoro::waitFor(reader.readAsync())};
}

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
        QTest::addColumn<Answer>("answer");
        QTest::newRow("stored") << token.toUtf8() << false << Answer(token);
        QTest::newRow("none stored") << QByteArray() << false << Answer(std::nullopt);
        // Never a prompt and never "not paired": the helper retries on its own.
        QTest::newRow("locked") << token.toUtf8() << true
                                << keychainFailure(-25308, QStringLiteral("Keychain access failed (-25308)."));
        QTest::newRow("locked, none stored")
            << QByteArray() << true << keychainFailure(-25308, QStringLiteral("Keychain access failed (-25308)."));
        QTest::newRow("not UTF-8") << QByteArray("twk_\xff") << false
                                   << keychainFailure(1, QStringLiteral("The saved device credential is invalid."));
    }

    void readsTheKeyring()
    {
        QFETCH(QByteArray, stored);
        QFETCH(bool, locked);
        QFETCH(Answer, answer);
        if (!stored.isEmpty())
            QVERIFY(TestKeyring::storeRaw(stored));
        if (locked)
            QVERIFY(TestKeyring::lockAll());
        // GLib prints its debug messages to standard output, where the answer goes.
        qputenv("G_MESSAGES_DEBUG", "all");
        const CredentialReaderProcess reader(QStringLiteral(READER_PATH), std::chrono::seconds(30));

        QCOMPARE(readBothWays(reader), QList<Answer>(2, answer));
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
        QTest::newRow("usage") << QByteArray("exit 2") << Failure::unreadableAnswer;
        QTest::newRow("killed") << QByteArray(R"(printf '{"credential":null}'; kill -9 $$)")
                                << Failure::endedWithoutAnswer;
        QTest::newRow("hangs") << QByteArray(R"(echo $$ >> "$PIDS"; exec sleep 600)") << Failure::timedOut;
    }

    // Reported with its cause and never with what the child printed; a child that hangs is killed.
    void aFailingReaderIsAFailure()
    {
        QFETCH(QByteArray, script);
        QFETCH(Failure, failure);
        const QTemporaryDir folder;
        const QString program = folder.filePath(QStringLiteral("TarnwickCredentialReader"));
        const QString pids = folder.filePath(QStringLiteral("pids"));
        if (!script.isEmpty()) {
            QFile file(program);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("#!/bin/sh\n" + script + '\n') > 0);
            QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
        }
        qputenv("SECRET", token.toUtf8());
        qputenv("PIDS", pids.toUtf8());
        const CredentialReaderProcess reader(program, std::chrono::seconds(2));

        const Answer blocking = reader.read();
        const StallMeter meter;
        const Answer awaited = QCoro::waitFor(reader.readAsync());

        QVERIFY(!blocking);
        QCOMPARE(blocking.error().domain, CredentialReaderProcess::errorDomain());
        QCOMPARE(blocking.error().code, int(failure));
        QVERIFY2(!blocking.error().description.contains(token), qPrintable(blocking.error().description));
        QCOMPARE(awaited, blocking);
        // Waiting for the child, even one that hangs for the whole time limit, never stood the event loop still.
        QCOMPARE_LT(meter.longestStallMs(), 1000);
        QFile pidFile(pids);
        QCOMPARE(pidFile.exists(), failure == Failure::timedOut);
        if (pidFile.open(QIODevice::ReadOnly)) {
            for (const QByteArray &pid : pidFile.readAll().split('\n')) {
                if (!pid.isEmpty())
                    QVERIFY2(::kill(pid.toInt(), 0) == -1 && errno == ESRCH, pid.constData());
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestCredentialReaderProcess)
#include "tst_credentialreaderprocess.moc"
