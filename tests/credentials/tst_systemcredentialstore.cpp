#include "TestKeyring.h"

#include "credentials/KeychainError.h"
#include "credentials/SystemCredentialStore.h"

#include <QTest>

#define GCR_API_SUBJECT_TO_CHANGE
#include <gcr/gcr-base.h>

namespace {

const QString firstToken = QStringLiteral("twk_device_3F2504E0-4F89-41D3-9A0C-0305E82C3301."
                                          "abcdefghijklmnopqrstuvwxyz_ABCDEFGHIJKLMNOP");
const QString secondToken = QStringLiteral("twk_device_3f2504e0-4f89-41d3-9a0c-0305e82c3301."
                                           "ÄÖÜäöüßéèêабвгдеёжзийклмнопрстуфхцчшщъыьэюя");

// How libgcr's mock prompter answers gnome-keyring's next unlock prompt, in place of the person.
enum class Prompt { password, dismiss };
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
    // A gnome-keyring that asks the mock prompter (on a thread of its own, so a test may block in a call
    // while its prompt is answered): the daemon started here finds it through the environment.
    void initTestCase()
    {
        qputenv("GNOME_KEYRING_TEST_PROMPTER", gcr_mock_prompter_start());
        QVERIFY(TestKeyring::restartDaemon());
    }
    void cleanupTestCase() { gcr_mock_prompter_stop(); }

    void init()
    {
        QVERIFY(TestKeyring::unlockDefault());
        QVERIFY(TestKeyring::deleteCredentialItems());
    }

    // A second save replaces the item rather than adding one beside it, even after the Secret Service
    // restarted (the setup window may stay open across that). Stores of other access groups (or none)
    // each see and replace only their own item: groups match exactly, not by prefix.
    void savesReplacesAndRemoves()
    {
        QVERIFY(m_store.save(firstToken));
        QVERIFY(TestKeyring::restartDaemon());
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
        QTest::addColumn<std::optional<Prompt>>("answer"); // none: no prompt allowed
        QTest::addColumn<ReadResult>("outcome");
        QTest::addColumn<Secrets>("secretsAfter");
        const Secrets first{firstToken.toUtf8()};
        const std::optional<Prompt> noPrompt;
        const auto password = std::optional(Prompt::password);
        const auto dismiss = std::optional(Prompt::dismiss);
        const ReadResult locked = keychainFailure(-25308);
        const ReadResult dismissed = keychainFailure(-25293);
        // Every operation first reaches the items the same way; one row for each way it may end.
        QTest::newRow("read, none stored") << QStringLiteral("read") << false << noPrompt << locked << Secrets();
        QTest::newRow("remove") << QStringLiteral("remove") << true << noPrompt << locked << first;
        QTest::newRow("read, answered") << QStringLiteral("read") << true << password << ReadResult(firstToken)
                                        << first;
        QTest::newRow("save, dismissed") << QStringLiteral("save") << true << dismiss << dismissed << first;
    }

    void lockedCollection()
    {
        QFETCH(QString, operation);
        QFETCH(bool, stored);
        QFETCH(std::optional<Prompt>, answer);
        QFETCH(ReadResult, outcome);
        QFETCH(Secrets, secretsAfter);
        const SystemCredentialStore store(std::nullopt, answer ? SystemCredentialStore::UnlockPrompt::allowed
                                                               : SystemCredentialStore::UnlockPrompt::never);
        if (stored)
            QVERIFY(store.save(firstToken));
        QVERIFY(TestKeyring::lockAll());
        if (answer == Prompt::password)
            gcr_mock_prompter_expect_password_ok(TestKeyring::sessionPassword, nullptr);
        if (answer == Prompt::dismiss)
            gcr_mock_prompter_expect_password_cancel();

        QCOMPARE(perform(store, operation), outcome);

        QVERIFY2(!gcr_mock_prompter_is_expecting(), "no unlock prompt was shown");
        QCOMPARE(TestKeyring::isDefaultLocked(), answer != Prompt::password);
        // Unlocked without a prompt, to see what is stored.
        QVERIFY(TestKeyring::unlockDefault());
        QCOMPARE(TestKeyring::credentialSecrets(), secretsAfter);
    }

private:
    const SystemCredentialStore m_store{std::nullopt};
};

QTEST_GUILESS_MAIN(TestSystemCredentialStore)
#include "tst_systemcredentialstore.moc"
