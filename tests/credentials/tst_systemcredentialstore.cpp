#include "TestKeyring.h"
#include "TestPrompter.h"

#include "credentials/KeychainError.h"
#include "credentials/SystemCredentialStore.h"

#include <QProcess>
#include <QTest>

#include <cstdio>

namespace {

const QString firstToken = QStringLiteral("twk_device_3F2504E0-4F89-41D3-9A0C-0305E82C3301."
                                          "abcdefghijklmnopqrstuvwxyz_ABCDEFGHIJKLMNOP");
const QString secondToken = QStringLiteral("twk_device_3f2504e0-4f89-41d3-9a0c-0305e82c3301."
                                           "ÄÖÜäöüßéèêабвгдеёжзийклмнопрстуфхцчшщъыьэюя");

using ReadResult = Result<std::optional<QString>>;
using Secrets = QList<QByteArray>;
const ReadResult nothingStored = std::optional<QString>();

// What the operation read; nothing for save and remove.
ReadResult perform(const SystemCredentialStore &store, const QString &operation)
{
    if (operation == u"read")
        return store.read();
    const Result<void> done = operation == u"save" ? store.save(secondToken) : store.remove();
    return done ? nothingStored : failure(done.error());
}

ReadResult keychainFailure(int status)
{
    return failure(
        Error{QStringLiteral("KeychainError"), status, QStringLiteral("Keychain access failed (%1).").arg(status)});
}

}

class TestSystemCredentialStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A gnome-keyring that asks m_prompter when it needs to prompt.
    void initTestCase() { QVERIFY(TestKeyring::restartDaemon()); }

    void init()
    {
        if (TestKeyring::isDefaultLocked())
            QVERIFY(TestKeyring::unlockDefault());
        QVERIFY(TestKeyring::deleteCredentialItems());
    }

    // A second save replaces the item rather than adding one beside it. Stores of other access groups (or
    // none) each see and replace only their own item: groups match exactly, not by prefix.
    void savesReplacesAndRemoves()
    {
        QVERIFY(m_store.save(firstToken));
        QVERIFY(m_store.save(secondToken));
        QCOMPARE(m_store.read(), ReadResult(secondToken));
        QCOMPARE(TestKeyring::credentialSecrets(), Secrets{secondToken.toUtf8()});
        QVERIFY(m_store.remove());
        QVERIFY(m_store.remove());
        QCOMPARE(m_store.read(), nothingStored);

        const SystemCredentialStore groupA(QStringLiteral("team.a"));
        const SystemCredentialStore groupAB(QStringLiteral("team.ab"));
        QVERIFY(groupA.save(firstToken));
        QCOMPARE(m_store.read(), nothingStored);
        QCOMPARE(groupAB.read(), nothingStored);
        QVERIFY(m_store.save(secondToken));
        QVERIFY(groupAB.save(secondToken));
        QVERIFY(m_store.remove());
        QVERIFY(groupAB.remove());
        QCOMPARE(TestKeyring::credentialSecrets(), Secrets{firstToken.toUtf8()});
        QCOMPARE(groupA.read(), ReadResult(firstToken));
    }

    // Reported, and the item left as it is.
    void valueThatIsNotUtf8IsInvalid()
    {
        const QByteArray surrogate = QByteArrayLiteral("\xed\xa0\x80");
        QVERIFY(TestKeyring::storeRaw(surrogate));
        QCOMPARE(m_store.read(),
                 ReadResult(failure(Error{QStringLiteral("KeychainError"), KeychainError::invalidDataCode,
                                          QStringLiteral("The saved device credential is invalid.")})));
        QCOMPARE(TestKeyring::credentialSecrets(), Secrets{surrogate});
    }

    // A locked keyring looks empty to a plain lookup. Without leave to prompt, every operation must fail
    // (-25308) rather than read as "not paired", and leave the item as it was. With leave, the prompt's
    // password lets the operation go on; a dismissed prompt fails it with -25293 and keeps it locked.
    void lockedCollection_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<bool>("stored");
        QTest::addColumn<std::optional<TestPrompter::Answer>>("answer"); // none: no prompt allowed
        QTest::addColumn<ReadResult>("outcome");
        QTest::addColumn<Secrets>("secretsAfter");
        const Secrets first{firstToken.toUtf8()};
        const Secrets second{secondToken.toUtf8()};
        const std::optional<TestPrompter::Answer> noPrompt;
        const auto password = std::optional(TestPrompter::Answer::password);
        const auto dismiss = std::optional(TestPrompter::Answer::dismiss);
        const ReadResult locked = keychainFailure(-25308);
        const ReadResult dismissed = keychainFailure(-25293);
        QTest::newRow("read") << QStringLiteral("read") << true << noPrompt << locked << first;
        QTest::newRow("read, none stored") << QStringLiteral("read") << false << noPrompt << locked << Secrets();
        QTest::newRow("remove") << QStringLiteral("remove") << true << noPrompt << locked << first;
        QTest::newRow("read, answered") << QStringLiteral("read") << true << password << ReadResult(firstToken)
                                        << first;
        QTest::newRow("read, none stored, answered")
            << QStringLiteral("read") << false << password << nothingStored << Secrets();
        QTest::newRow("save, answered") << QStringLiteral("save") << true << password << nothingStored << second;
        QTest::newRow("read, dismissed") << QStringLiteral("read") << true << dismiss << dismissed << first;
        QTest::newRow("save, dismissed") << QStringLiteral("save") << true << dismiss << dismissed << first;
        QTest::newRow("remove, dismissed") << QStringLiteral("remove") << true << dismiss << dismissed << first;
    }

    void lockedCollection()
    {
        QFETCH(QString, operation);
        QFETCH(bool, stored);
        QFETCH(std::optional<TestPrompter::Answer>, answer);
        QFETCH(ReadResult, outcome);
        QFETCH(Secrets, secretsAfter);
        const SystemCredentialStore store(std::nullopt, answer ? SystemCredentialStore::UnlockPrompt::allowed
                                                               : SystemCredentialStore::UnlockPrompt::never);
        if (stored)
            QVERIFY(store.save(firstToken));
        QVERIFY(TestKeyring::lockAll());
        if (answer)
            m_prompter.answerNext(*answer);

        QCOMPARE(perform(store, operation), outcome);

        QVERIFY2(!m_prompter.isExpecting(), "no unlock prompt was shown");
        QCOMPARE(TestKeyring::isDefaultLocked(), answer != TestPrompter::Answer::password);
        // Unlocked without a prompt, to see what is stored.
        QVERIFY(!TestKeyring::isDefaultLocked() || TestKeyring::unlockDefault());
        QCOMPARE(TestKeyring::credentialSecrets(), secretsAfter);
    }

    void unreachableSecretServiceFails_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QString>("busAddress");
        // This program again, reading the store (see main()).
        const QStringList probe = {QCoreApplication::applicationFilePath(), QStringLiteral("--probe"),
                                   QStringLiteral("read")};
        QTest::newRow("no session bus") << probe << QStringLiteral("unix:path=/nonexistent/tarnwick-test-bus");
        QTest::newRow("bus without Secret Service")
            << QStringList{QStringLiteral("dbus-run-session"),
                           QStringLiteral("--config-file=" TESTS_DATA_DIR
                                          "/credentials/session-bus-without-secrets.conf"),
                           QStringLiteral("--")}
                   + probe
            << QString();
    }

    // Runs the store in a child process whose session bus the test chooses.
    void unreachableSecretServiceFails()
    {
        QFETCH(QStringList, command);
        QFETCH(QString, busAddress);
        QProcess probe;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (!busAddress.isEmpty())
            environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
        probe.setProcessEnvironment(environment);
        probe.start(command.first(), command.mid(1));
        QVERIFY(probe.waitForFinished(30000));
        QCOMPARE(probe.readAllStandardOutput(), "-25291 Keychain access failed (-25291).\n");
    }

    // The helper runs for the whole session; a Secret Service that restarts meanwhile must not cut it off.
    void restartedSecretServiceIsFoundAgain()
    {
        QVERIFY(m_store.save(firstToken));
        QVERIFY(TestKeyring::restartDaemon());
        QCOMPARE(m_store.read(), ReadResult(firstToken));
        QVERIFY(m_store.save(secondToken));
        QCOMPARE(TestKeyring::credentialSecrets(), Secrets{secondToken.toUtf8()});
    }

private:
    TestPrompter m_prompter;
    const SystemCredentialStore m_store{std::nullopt};
};

// With "--probe <operation>": runs that operation alone and prints the error it ends with, so a test can
// choose the session bus the store meets.
int main(int argc, char **argv)
{
    const QCoreApplication application(argc, argv);
    if (application.arguments().value(1) == u"--probe") {
        const SystemCredentialStore store(SystemCredentialStore::sharedAccessGroup());
        const ReadResult result = perform(store, application.arguments().value(2));
        const QString error = result ? QStringLiteral("ok")
                                     : QStringLiteral("%1 %2").arg(result.error().code).arg(result.error().description);
        std::printf("%s\n", qPrintable(error));
        return 0;
    }
    TestSystemCredentialStore test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_systemcredentialstore.moc"
