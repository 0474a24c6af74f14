#include "credentials/KeychainError.h"

#include <QTest>

class tst_KeychainError : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void convertsToError_data();
    void convertsToError();
};

void tst_KeychainError::convertsToError_data()
{
    QTest::addColumn<KeychainError>("error");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("description");
    QTest::newRow("locked") << KeychainError::unexpectedStatus(-25308) << -25308
                            << QStringLiteral("Keychain access failed (-25308).");
    QTest::newRow("no service") << KeychainError::unexpectedStatus(KeychainError::serviceUnavailable) << -25291
                                << QStringLiteral("Keychain access failed (-25291).");
    QTest::newRow("positive status") << KeychainError::unexpectedStatus(42) << 42
                                     << QStringLiteral("Keychain access failed (42).");
    QTest::newRow("smallest status") << KeychainError::unexpectedStatus(INT32_MIN) << INT32_MIN
                                     << QStringLiteral("Keychain access failed (-2147483648).");
    QTest::newRow("invalid data") << KeychainError::invalidData() << KeychainError::invalidDataCode
                                  << QStringLiteral("The saved device credential is invalid.");
}

void tst_KeychainError::convertsToError()
{
    QFETCH(KeychainError, error);
    QFETCH(int, code);
    QFETCH(QString, description);
    QCOMPARE(error.description(), description);
    QCOMPARE(error.toError(), (Error{QStringLiteral("KeychainError"), code, description}));
}

QTEST_APPLESS_MAIN(tst_KeychainError)
#include "tst_keychainerror.moc"
