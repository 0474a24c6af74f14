#include "TestKeyring.h"
#include "TestPrompter.h"

#include "credentials/KeychainError.h"
#include "credentials/SystemCredentialStore.h"

#include <QDBusConnection>
#include <QProcess>
#include <QSignalSpy>
#include <QThread>
#include <QTest>

#include <atomic>

namespace {

const QString firstToken = QStringLiteral("twk_device_3F2504E0-4F89-41D3-9A0C-0305E82C3301."
                                          "abcdefghijklmnopqrstuvwxyz_ABCDEFGHIJKLMNOP");
const QString secondToken = QStringLiteral("twk_device_3F2504E0-4F89-41D3-9A0C-0305E82C3301."
                                           "0123456789-0123456789-0123456789-0123456789");

using ReadResult = Result<std::optional<QString>>;

const ReadResult nothingStored = std::optional<QString>();

Error statusError(std::int32_t status)
{
    return KeychainError::unexpectedStatus(status).toError();
}

// The outcome of one store operation, without its value.
Result<void> perform(const SystemCredentialStore &store, const QString &operation)
{
    if (operation == u"read") {
        const ReadResult credential = store.read();
        return credential ? Result<void>() : failure(credential.error());
    }
    if (operation == u"save")
        return store.save(secondToken);
    return store.remove();
}

// The prompter answers on this thread's event loop, so an operation that may prompt runs elsewhere.
Result<void> performOnWorkerThread(const SystemCredentialStore &store, const QString &operation)
{
    Result<void> outcome;
    const std::unique_ptr<QThread> worker(QThread::create([&] { outcome = perform(store, operation); }));
    QSignalSpy finished(worker.get(), &QThread::finished);
    worker->start();
    finished.wait(30000);
    worker->wait();
    return outcome;
}

QList<QByteArray> storedSecrets()
{
    QList<QByteArray> secrets;
    for (const TestKeyring::Item &item : TestKeyring::credentialItems())
        secrets.append(item.secret.value_or(QByteArrayLiteral("<locked>")));
    return secrets;
}

// Runs the store in a child process (tests/credentials/credential-probe) and returns what it printed. A save
// stores secondToken.
QString probe(const QStringList &command, const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProgram(command.first());
    process.setArguments(command.mid(1));
    process.start();
    process.write(secondToken.toUtf8() + '\n');
    process.closeWriteChannel();
    if (!process.waitForFinished(30000))
        return QStringLiteral("probe did not finish");
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

}

char *toString(const Error &error)
{
    return QTest::toString(
        QStringLiteral("Error{%1, %2, %3}").arg(error.domain).arg(error.code).arg(error.description));
}

char *toString(const ReadResult &result)
{
    if (!result)
        return toString(result.error());
    return QTest::toString(result->value_or(QStringLiteral("<nothing stored>")));
}

class tst_SystemCredentialStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void readsAbsentAndDeletesWhenNothingIsStored();
    void roundTrip_data();
    void roundTrip();
    void saveReplacesTheStoredCredential();
    void removeDeletesTheCredential();
    void accessGroupKeepsItsOwnItem();
    void valueThatIsNotUtf8IsInvalid_data();
    void valueThatIsNotUtf8IsInvalid();
    void itemsOfOtherToolsAreTheSameCredential();
    void anotherProcessSharesTheCredential();
    void readsFromSeveralThreadsAtOnce();
    void lockedCollectionFailsWithoutPrompting_data();
    void lockedCollectionFailsWithoutPrompting();
    void dismissedUnlockPromptFails_data();
    void dismissedUnlockPromptFails();
    void answeredUnlockPromptLetsTheOperationProceed_data();
    void answeredUnlockPromptLetsTheOperationProceed();
    void unreachableSecretServiceFails_data();
    void unreachableSecretServiceFails();
    void restartedSecretServiceIsFoundAgain();

private:
    const SystemCredentialStore m_store{std::nullopt};
    TestPrompter m_prompter;
};

void tst_SystemCredentialStore::initTestCase()
{
    QVERIFY2(QDBusConnection::sessionBus().isConnected(), "run through tests/run-isolated.sh --keyring");
    // The keyring's unlock prompts go to a prompter of the test's own, never to a real display.
    QVERIFY(m_prompter.registerOnSessionBus());
}

void tst_SystemCredentialStore::init()
{
    m_prompter.setPassword(std::nullopt);
    if (TestKeyring::isDefaultLocked())
        QVERIFY(TestKeyring::unlockDefault());
    QVERIFY(TestKeyring::deleteCredentialItems());
    QVERIFY(TestKeyring::credentialItems().isEmpty());
}

void tst_SystemCredentialStore::readsAbsentAndDeletesWhenNothingIsStored()
{
    QCOMPARE(m_store.read(), nothingStored);
    QVERIFY(m_store.remove());
    QVERIFY(m_store.remove());
}

void tst_SystemCredentialStore::roundTrip_data()
{
    QTest::addColumn<QString>("token");
    QTest::newRow("ascii") << firstToken;
    QTest::newRow("non-ascii letters") << QStringLiteral("twk_device_3f2504e0-4f89-41d3-9a0c-0305e82c3301."
                                                         "ÄÖÜäöüßéèêабвгдеёжзийклмнопрстуфхцчшщъыьэюя");
}

void tst_SystemCredentialStore::roundTrip()
{
    QFETCH(QString, token);
    QVERIFY(m_store.save(token));

    QCOMPARE(m_store.read(), ReadResult(token));
    const QList<TestKeyring::Item> items = TestKeyring::credentialItems();
    QCOMPARE(items.size(), 1);
    QCOMPARE(items[0].secret, std::optional(token.toUtf8()));
    QCOMPARE(items[0].attributes.value(QStringLiteral("service")), QStringLiteral("com.tarnwick.mac"));
    QCOMPARE(items[0].attributes.value(QStringLiteral("account")), QStringLiteral("device-credential"));
    QVERIFY(!items[0].attributes.contains(QStringLiteral("accessGroup")));
}

void tst_SystemCredentialStore::saveReplacesTheStoredCredential()
{
    QVERIFY(m_store.save(firstToken));
    QVERIFY(m_store.save(secondToken));

    QCOMPARE(storedSecrets(), QList<QByteArray>{secondToken.toUtf8()});
    QCOMPARE(m_store.read(), ReadResult(secondToken));
}

void tst_SystemCredentialStore::removeDeletesTheCredential()
{
    QVERIFY(m_store.save(firstToken));
    QVERIFY(m_store.remove());

    QVERIFY(TestKeyring::credentialItems().isEmpty());
    QCOMPARE(m_store.read(), nothingStored);
    QVERIFY(m_store.remove());
}

void tst_SystemCredentialStore::accessGroupKeepsItsOwnItem()
{
    const SystemCredentialStore grouped(QStringLiteral("TEAM.com.tarnwick.shared"));
    QVERIFY(grouped.save(firstToken));
    QVERIFY(m_store.save(secondToken));

    QCOMPARE(grouped.read(), ReadResult(firstToken));
    QCOMPARE(m_store.read(), ReadResult(secondToken));
    QCOMPARE(TestKeyring::credentialItems().size(), 2);

    QVERIFY(m_store.remove());
    const QList<TestKeyring::Item> items = TestKeyring::credentialItems();
    QCOMPARE(items.size(), 1);
    QCOMPARE(items[0].attributes.value(QStringLiteral("accessGroup")), QStringLiteral("TEAM.com.tarnwick.shared"));
    QCOMPARE(grouped.read(), ReadResult(firstToken));
}

void tst_SystemCredentialStore::valueThatIsNotUtf8IsInvalid_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("invalid byte") << QByteArrayLiteral("twk_device_\xff");
    QTest::newRow("overlong slash") << QByteArrayLiteral("\xc0\xaf");
    QTest::newRow("surrogate half") << QByteArrayLiteral("\xed\xa0\x80");
    QTest::newRow("cut short") << QByteArrayLiteral("token \xe2\x82");
}

void tst_SystemCredentialStore::valueThatIsNotUtf8IsInvalid()
{
    QFETCH(QByteArray, bytes);
    QVERIFY(TestKeyring::storeRaw(TestKeyring::credentialAttributes(), bytes));

    const ReadResult credential = m_store.read();
    QVERIFY(!credential);
    QCOMPARE(credential.error(), KeychainError::invalidData().toError());
    QCOMPARE(storedSecrets(), QList<QByteArray>{bytes});
}

void tst_SystemCredentialStore::itemsOfOtherToolsAreTheSameCredential()
{
    QProcess store;
    store.start(QStringLiteral("secret-tool"), {QStringLiteral("store"), QStringLiteral("--label=Made elsewhere"),
                                                QStringLiteral("service"), QStringLiteral("com.tarnwick.mac"),
                                                QStringLiteral("account"), QStringLiteral("device-credential")});
    store.write(firstToken.toUtf8());
    store.closeWriteChannel();
    QVERIFY(store.waitForFinished());
    QCOMPARE(store.exitCode(), 0);
    QCOMPARE(m_store.read(), ReadResult(firstToken));

    QVERIFY(m_store.save(secondToken));
    QProcess lookup;
    lookup.start(QStringLiteral("secret-tool"), {QStringLiteral("lookup"), QStringLiteral("service"),
                                                 QStringLiteral("com.tarnwick.mac"), QStringLiteral("account"),
                                                 QStringLiteral("device-credential")});
    QVERIFY(lookup.waitForFinished());
    QCOMPARE(lookup.readAllStandardOutput(), secondToken.toUtf8());
    QCOMPARE(TestKeyring::credentialItems().size(), 1);
}

// The setup application saves, the helper reads: two processes, one item.
void tst_SystemCredentialStore::anotherProcessSharesTheCredential()
{
    const QStringList probeProgram{QStringLiteral(CREDENTIAL_PROBE)};
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QCOMPARE(probe(probeProgram + QStringList{QStringLiteral("save")}, environment), QStringLiteral("ok"));
    QCOMPARE(m_store.read(), ReadResult(secondToken));

    QVERIFY(m_store.save(firstToken));
    QCOMPARE(probe(probeProgram + QStringList{QStringLiteral("read")}, environment),
             QStringLiteral("ok ") + firstToken);
}

// The helper reads on its supervisor thread while its menu reads on the main thread.
void tst_SystemCredentialStore::readsFromSeveralThreadsAtOnce()
{
    QVERIFY(m_store.save(firstToken));
    std::atomic<int> wrongReads = 0;
    std::vector<std::unique_ptr<QThread>> readers;
    for (int reader = 0; reader < 4; ++reader) {
        readers.emplace_back(QThread::create([&] {
            for (int attempt = 0; attempt < 10; ++attempt) {
                if (m_store.read() != ReadResult(firstToken))
                    ++wrongReads;
            }
        }));
        readers.back()->start();
    }
    for (const auto &reader : readers)
        QVERIFY(reader->wait(60000));
    QCOMPARE(wrongReads.load(), 0);
}

void tst_SystemCredentialStore::lockedCollectionFailsWithoutPrompting_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<bool>("stored");
    for (const QString &operation : {QStringLiteral("read"), QStringLiteral("save"), QStringLiteral("remove")}) {
        QTest::addRow("%s with a credential", qPrintable(operation)) << operation << true;
        QTest::addRow("%s without a credential", qPrintable(operation)) << operation << false;
    }
}

// A locked keyring looks empty to a plain lookup; it must fail, not read as "not paired", and it must leave
// the item as it was.
void tst_SystemCredentialStore::lockedCollectionFailsWithoutPrompting()
{
    QFETCH(QString, operation);
    QFETCH(bool, stored);
    if (stored)
        QVERIFY(m_store.save(firstToken));
    QVERIFY(TestKeyring::lockAll());

    const Result<void> outcome = perform(m_store, operation);

    QVERIFY(!outcome);
    QCOMPARE(m_prompter.promptsShown(), 0);
    QCOMPARE(outcome.error(), statusError(KeychainError::interactionNotAllowed));
    QCOMPARE(outcome.error().description, QStringLiteral("Keychain access failed (-25308)."));
    QVERIFY(TestKeyring::isDefaultLocked());
    QVERIFY(TestKeyring::unlockDefault());
    QCOMPARE(storedSecrets(), stored ? QList<QByteArray>{firstToken.toUtf8()} : QList<QByteArray>());
}

void tst_SystemCredentialStore::dismissedUnlockPromptFails_data()
{
    lockedCollectionFailsWithoutPrompting_data();
}

void tst_SystemCredentialStore::dismissedUnlockPromptFails()
{
    QFETCH(QString, operation);
    QFETCH(bool, stored);
    if (stored)
        QVERIFY(m_store.save(firstToken));
    QVERIFY(TestKeyring::lockAll());
    const SystemCredentialStore prompting(std::nullopt, SystemCredentialStore::UnlockPrompt::allowed);
    const int promptsBefore = m_prompter.promptsShown();

    const Result<void> outcome = performOnWorkerThread(prompting, operation);

    QVERIFY(!outcome);
    QCOMPARE(m_prompter.promptsShown(), promptsBefore + 1);
    QCOMPARE(outcome.error(), statusError(KeychainError::unlockDismissed));
    QVERIFY(TestKeyring::unlockDefault());
    QCOMPARE(storedSecrets(), stored ? QList<QByteArray>{firstToken.toUtf8()} : QList<QByteArray>());
}

void tst_SystemCredentialStore::answeredUnlockPromptLetsTheOperationProceed_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<bool>("stored");
    QTest::addColumn<QList<QByteArray>>("secretsAfter");
    const QList<QByteArray> first{firstToken.toUtf8()};
    const QList<QByteArray> second{secondToken.toUtf8()};
    QTest::newRow("read with a credential") << QStringLiteral("read") << true << first;
    QTest::newRow("read without a credential") << QStringLiteral("read") << false << QList<QByteArray>();
    QTest::newRow("save with a credential") << QStringLiteral("save") << true << second;
    QTest::newRow("save without a credential") << QStringLiteral("save") << false << second;
    QTest::newRow("remove with a credential") << QStringLiteral("remove") << true << QList<QByteArray>();
}

void tst_SystemCredentialStore::answeredUnlockPromptLetsTheOperationProceed()
{
    QFETCH(QString, operation);
    QFETCH(bool, stored);
    QFETCH(QList<QByteArray>, secretsAfter);
    if (stored)
        QVERIFY(m_store.save(firstToken));
    QVERIFY(TestKeyring::lockAll());
    m_prompter.setPassword(TestKeyring::password());
    const SystemCredentialStore prompting(std::nullopt, SystemCredentialStore::UnlockPrompt::allowed);
    const int promptsBefore = m_prompter.promptsShown();

    const Result<void> outcome = performOnWorkerThread(prompting, operation);

    QVERIFY2(outcome, outcome ? "" : qPrintable(outcome.error().description));
    QCOMPARE(m_prompter.promptsShown(), promptsBefore + 1);
    QVERIFY(!TestKeyring::isDefaultLocked());
    QCOMPARE(storedSecrets(), secretsAfter);
}

void tst_SystemCredentialStore::unreachableSecretServiceFails_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<QString>("busAddress");
    const QString probeProgram = QStringLiteral(CREDENTIAL_PROBE);
    const QStringList withoutSecrets = {
        QStringLiteral("dbus-run-session"),
        QStringLiteral("--config-file=" TESTS_DATA_DIR "/credentials/session-bus-without-secrets.conf"),
        QStringLiteral("--"), probeProgram};
    const QString deadBus = QStringLiteral("unix:path=/nonexistent/tarnwick-test-bus");
    for (const QString &operation : {QStringLiteral("read"), QStringLiteral("save"), QStringLiteral("remove")}) {
        QTest::addRow("%s, no session bus", qPrintable(operation)) << QStringList{probeProgram, operation} << deadBus;
        QTest::addRow("%s, bus without Secret Service", qPrintable(operation))
            << withoutSecrets + QStringList{operation} << QString();
    }
}

void tst_SystemCredentialStore::unreachableSecretServiceFails()
{
    QFETCH(QStringList, command);
    QFETCH(QString, busAddress);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!busAddress.isEmpty())
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);

    QCOMPARE(probe(command, environment), QStringLiteral("failed -25291 Keychain access failed (-25291)."));
}

// The helper runs for the whole session; a Secret Service that restarts meanwhile must not cut it off.
void tst_SystemCredentialStore::restartedSecretServiceIsFoundAgain()
{
    QVERIFY(m_store.save(firstToken));
    QCOMPARE(m_store.read(), ReadResult(firstToken));

    QVERIFY(TestKeyring::restartDaemon());

    QCOMPARE(m_store.read(), ReadResult(firstToken));
    QVERIFY(m_store.save(secondToken));
    QCOMPARE(storedSecrets(), QList<QByteArray>{secondToken.toUtf8()});
}

QTEST_GUILESS_MAIN(tst_SystemCredentialStore)
#include "tst_systemcredentialstore.moc"
