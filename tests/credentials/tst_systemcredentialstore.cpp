#include "TestKeyring.h"

#include "credentials/KeychainError.h"
#include "credentials/SystemCredentialStore.h"

#include <QProcess>
#include <QTest>

namespace {

const QString firstToken = QStringLiteral("twk_device_3F2504E0-4F89-41D3-9A0C-0305E82C3301."
                                          "abcdefghijklmnopqrstuvwxyz_ABCDEFGHIJKLMNOP");
const QString secondToken = QStringLiteral("twk_device_3f2504e0-4f89-41d3-9a0c-0305e82c3301."
                                           "ÄÖÜäöüßéèêабвгдеёжзийклмнопрстуфхцчшщъыьэюя");

using ReadResult = Result<std::optional<QString>>;
const ReadResult nothingStored = std::optional<QString>();

Result<void> perform(const SystemCredentialStore &store, const QString &operation)
{
    if (operation == u"read") {
        const ReadResult credential = store.read();
        return credential ? Result<void>() : failure(credential.error());
    }
    return operation == u"save" ? store.save(secondToken) : store.remove();
}

}

char *toString(const ReadResult &result)
{
    if (!result)
        return QTest::toString(QStringLiteral("Error{%1, %2, %3}")
                                   .arg(result.error().domain)
                                   .arg(result.error().code)
                                   .arg(result.error().description));
    return QTest::toString(result->value_or(QStringLiteral("<nothing stored>")));
}

class tst_SystemCredentialStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        if (TestKeyring::isDefaultLocked())
            QVERIFY(TestKeyring::unlockDefault());
        QVERIFY(TestKeyring::deleteCredentialItems());
        QVERIFY(TestKeyring::credentialSecrets().isEmpty());
    }

    void savesReplacesAndRemoves()
    {
        QCOMPARE(m_store.read(), nothingStored);
        QVERIFY(m_store.save(firstToken));
        QCOMPARE(m_store.read(), ReadResult(firstToken));
        QCOMPARE(TestKeyring::credentialSecrets(), QList<QByteArray>{firstToken.toUtf8()});

        // A second save replaces the item rather than adding one beside it.
        QVERIFY(m_store.save(secondToken));
        QCOMPARE(m_store.read(), ReadResult(secondToken));
        QCOMPARE(TestKeyring::credentialSecrets(), QList<QByteArray>{secondToken.toUtf8()});

        QVERIFY(m_store.remove());
        QVERIFY(TestKeyring::credentialSecrets().isEmpty());
        QCOMPARE(m_store.read(), nothingStored);
        QVERIFY(m_store.remove());
    }

    void valueThatIsNotUtf8IsInvalid_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("invalid byte") << QByteArrayLiteral("twk_device_\xff");
        QTest::newRow("overlong slash") << QByteArrayLiteral("\xc0\xaf");
        QTest::newRow("surrogate half") << QByteArrayLiteral("\xed\xa0\x80");
        QTest::newRow("cut short") << QByteArrayLiteral("token \xe2\x82");
    }

    // Reported, and the item left as it is.
    void valueThatIsNotUtf8IsInvalid()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY(TestKeyring::storeRaw(bytes));
        QCOMPARE(m_store.read(), ReadResult(failure(Error{QStringLiteral("KeychainError"), KeychainError::invalidDataCode,
                                                          QStringLiteral("The saved device credential is invalid.")})));
        QCOMPARE(TestKeyring::credentialSecrets(), QList<QByteArray>{bytes});
    }

    void lockedCollectionFailsWithoutPrompting_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<bool>("stored");
        for (const char *operation : {"read", "save", "remove"}) {
            QTest::addRow("%s with a credential", operation) << QString::fromLatin1(operation) << true;
            QTest::addRow("%s without a credential", operation) << QString::fromLatin1(operation) << false;
        }
    }

    // A locked keyring looks empty to a plain lookup: it must fail rather than read as "not paired", and
    // leave the item as it was.
    void lockedCollectionFailsWithoutPrompting()
    {
        QFETCH(QString, operation);
        QFETCH(bool, stored);
        if (stored)
            QVERIFY(m_store.save(firstToken));
        QVERIFY(TestKeyring::lockAll());

        const Result<void> outcome = perform(m_store, operation);

        QVERIFY(!outcome);
        QCOMPARE(outcome.error(), (Error{QStringLiteral("KeychainError"), -25308,
                                         QStringLiteral("Keychain access failed (-25308).")}));
        QVERIFY(TestKeyring::isDefaultLocked());
        QVERIFY(TestKeyring::unlockDefault());
        QCOMPARE(TestKeyring::credentialSecrets(),
                 stored ? QList<QByteArray>{firstToken.toUtf8()} : QList<QByteArray>());
    }

    void unreachableSecretServiceFails_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QString>("busAddress");
        const QString probe = QStringLiteral(CREDENTIAL_PROBE);
        const QStringList withoutSecrets = {
            QStringLiteral("dbus-run-session"),
            QStringLiteral("--config-file=" TESTS_DATA_DIR "/credentials/session-bus-without-secrets.conf"),
            QStringLiteral("--"), probe};
        for (const char *operation : {"read", "save", "remove"}) {
            const QString name = QString::fromLatin1(operation);
            QTest::addRow("%s, no session bus", operation)
                << QStringList{probe, name} << QStringLiteral("unix:path=/nonexistent/tarnwick-test-bus");
            QTest::addRow("%s, bus without Secret Service", operation) << withoutSecrets + QStringList{name}
                                                                        << QString();
        }
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
        QCOMPARE(probe.readAllStandardOutput().trimmed(), "failed -25291 Keychain access failed (-25291).");
    }

private:
    const SystemCredentialStore m_store{std::nullopt};
};

QTEST_GUILESS_MAIN(tst_SystemCredentialStore)
#include "tst_systemcredentialstore.moc"
