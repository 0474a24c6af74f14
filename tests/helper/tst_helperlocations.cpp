#include "HelperLocations.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

class tst_HelperLocations : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void mainAppBundle_data()
    {
        QTest::addColumn<QByteArray>("variable");
        QTest::addColumn<QString>("expected");

        // This test program stands in for the helper: its directory plays Contents/MacOS.
        QDir fallback(QCoreApplication::applicationDirPath());
        for (int i = 0; i < 6; ++i)
            fallback.cdUp();
        QTest::newRow("absent") << QByteArray() << fallback.path();
        QTest::newRow("empty") << QByteArrayLiteral("") << fallback.path();
        QTest::newRow("path of nothing") << QByteArrayLiteral("/nowhere/at all/Tarnwick.app")
                                         << QStringLiteral("/nowhere/at all/Tarnwick.app");
        QTest::newRow("kept as given") << QByteArrayLiteral("relative/../Tarnwick.app/")
                                       << QStringLiteral("relative/../Tarnwick.app/");
    }

    void mainAppBundle()
    {
        QFETCH(QByteArray, variable);
        QFETCH(QString, expected);
        if (variable.isNull())
            qunsetenv("TWK_MAIN_APP_BUNDLE");
        else
            qputenv("TWK_MAIN_APP_BUNDLE", variable);
        QCOMPARE(HelperLocations::mainAppBundle(), expected);
        qunsetenv("TWK_MAIN_APP_BUNDLE");
    }

    void modificationDate()
    {
        QTemporaryDir directory;
        const QString path = directory.filePath(QStringLiteral("config.json"));
        QVERIFY(!HelperLocations::modificationDate(path));

        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QDateTime when = QDateTime(QDate(2026, 1, 31), QTime(9, 15, 0, 250), Qt::UTC);
        QVERIFY(file.setFileTime(when, QFileDevice::FileModificationTime));
        QCOMPARE(HelperLocations::modificationDate(path), when);
    }
};

QTEST_GUILESS_MAIN(tst_HelperLocations)
#include "tst_helperlocations.moc"
