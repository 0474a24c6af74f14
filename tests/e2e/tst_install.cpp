// tools/install.sh and tools/uninstall.sh against this build's bundle, in the test's own home, under a
// prefix that needs quoting. The steps run in order: install, replace, keep a running helper going,
// refuse a broken bundle, uninstall, and uninstall with --purge.

#include "common/HelperInstanceLock.h"
#include "platform/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

const QString tools = QStringLiteral(TOOLS_DIR);
const QString builtBundle = QStringLiteral(TARNWICK_BUNDLE_DIR);
const QString appInBundle = QStringLiteral("Contents/MacOS/Tarnwick");
const QString helperInBundle =
    QStringLiteral("Contents/Library/LoginItems/TarnwickHelper.app/Contents/MacOS/TarnwickHelper");

// Copying a debug build's bundle takes a moment; a hanging script takes this long to be noticed.
constexpr int scriptTimeoutMs = 120000;

struct Run
{
    int exitCode = -1;
    QString output;
};

Run run(const QString &program, const QStringList &arguments, const QByteArray &input = {})
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(scriptTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return {-1, QStringLiteral("timed out")};
    }
    const int exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return {exitCode, QString::fromUtf8(process.readAll())};
}

QString dataHome()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

QString configHome()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool writeText(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

QString executableOf(qint64 pid)
{
    return QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
}

QByteArray credentialInKeyring()
{
    return run(QStringLiteral("secret-tool"), {QStringLiteral("lookup"), QStringLiteral("service"),
                                               QStringLiteral("com.tarnwick.mac"), QStringLiteral("account"),
                                               QStringLiteral("device-credential")})
        .output.toUtf8();
}

} // namespace

class Install : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void answersHelpAndRefusesUnknownOptions_data();
    void answersHelpAndRefusesUnknownOptions();
    void installsForTheUser();
    void desktopHandsTarnwickLinksToTheInstalledProgram();
    void replacesAnOlderCopy();
    void restartsARunningHelperFromTheNewCopy();
    void refusesAnIncompleteBundleAndKeepsTheInstallation();
    void uninstallRemovesAllButTheUserData();
    void purgeAlsoRemovesTheDataAndTheCredential();

private:
    Run install(const QString &bundle = builtBundle) const;
    Run uninstall(const QStringList &options = {}) const;
    QString installed(const QString &part) const
    {
        return m_prefix + QStringLiteral("/lib/tarnwick/Tarnwick.app/") + part;
    }
    QString desktopEntry() const { return dataHome() + QStringLiteral("/applications/tarnwick.desktop"); }
    QString autostartEntry() const
    {
        return configHome() + QStringLiteral("/autostart/com.tarnwick.mac.helper.desktop");
    }
    QString userData() const { return dataHome() + QStringLiteral("/Tarnwick/config.json"); }
    QStringList installedIcons() const;

    QString m_prefix;
};

void Install::initTestCase()
{
    QVERIFY2(QFileInfo(builtBundle + u'/' + appInBundle).isExecutable(), "build the Tarnwick target first");
    QVERIFY2(QFileInfo(builtBundle + u'/' + helperInBundle).isExecutable(), "build the TarnwickHelper target first");
    // Characters the launcher and the desktop entry must quote.
    m_prefix = QDir::home().filePath(QStringLiteral("Tom's $Apps"));
}

void Install::cleanupTestCase()
{
    if (const std::optional<qint64> helper = HelperInstanceLock::runningHelperPid()) {
        ::kill(pid_t(*helper), SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(!HelperInstanceLock::runningHelperPid(), 10000);
    }
}

Run Install::install(const QString &bundle) const
{
    return run(tools + QStringLiteral("/install.sh"),
               {QStringLiteral("--prefix"), m_prefix, QStringLiteral("--bundle"), bundle});
}

Run Install::uninstall(const QStringList &options) const
{
    return run(tools + QStringLiteral("/uninstall.sh"), QStringList{QStringLiteral("--prefix"), m_prefix} + options);
}

QStringList Install::installedIcons() const
{
    const QString theme = dataHome() + QStringLiteral("/icons/hicolor/");
    QStringList present;
    const QStringList icons{QStringLiteral("scalable/apps/tarnwick.svg"), QStringLiteral("256x256/apps/tarnwick.png")};
    for (const QString &icon : icons) {
        if (QFileInfo(theme + icon).size() > 0)
            present.append(icon);
    }
    return present;
}

void Install::answersHelpAndRefusesUnknownOptions_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("opening");

    for (const QString &script : {QStringLiteral("install.sh"), QStringLiteral("uninstall.sh")}) {
        const QString usage = QStringLiteral("Usage: tools/") + script;
        QTest::addRow("%s --help", qPrintable(script)) << script << QStringList{QStringLiteral("--help")} << 0 << usage;
        QTest::addRow("%s --frobnicate", qPrintable(script))
            << script << QStringList{QStringLiteral("--frobnicate")} << 2 << usage;
        QTest::addRow("%s --prefix without a folder", qPrintable(script))
            << script << QStringList{QStringLiteral("--prefix")} << 1
            << script + QStringLiteral(": --prefix needs a folder");
    }
}

void Install::answersHelpAndRefusesUnknownOptions()
{
    QFETCH(QString, script);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, opening);

    const Run done = run(tools + u'/' + script, arguments);
    QCOMPARE(done.exitCode, exitCode);
    QVERIFY2(done.output.startsWith(opening), qPrintable(done.output));
}

void Install::installsForTheUser()
{
    const Run done = install();
    QVERIFY2(done.exitCode == 0, qPrintable(done.output));

    QVERIFY(QFileInfo(installed(appInBundle)).isExecutable());
    QVERIFY(QFileInfo(installed(helperInBundle)).isExecutable());
    QVERIFY(QFileInfo(installed(QStringLiteral("Contents/Resources/runner/runner.js"))).isFile());
    QVERIFY(QFileInfo(installed(QStringLiteral("Contents/Resources/LogoMark.png"))).isFile());
    // The runtime stays a link to the system's Node.js.
    QCOMPARE(QFileInfo(installed(QStringLiteral("Contents/Resources/runtime/node"))).symLinkTarget(),
             QFileInfo(builtBundle + QStringLiteral("/Contents/Resources/runtime/node")).symLinkTarget());

    const Run version = run(m_prefix + QStringLiteral("/bin/tarnwick"), {QStringLiteral("--version")});
    QCOMPARE(version.exitCode, 0);
    QCOMPARE(version.output, QStringLiteral("Tarnwick " TARNWICK_VERSION " (" TARNWICK_BUILD_NUMBER ")\n"));

    const Run helperVersion = run(installed(helperInBundle), {QStringLiteral("--version")});
    QCOMPARE(helperVersion.output, QStringLiteral("TarnwickHelper " TARNWICK_VERSION " (" TARNWICK_BUILD_NUMBER ")\n"));

    const QStringList entry = readText(desktopEntry()).split(u'\n');
    const QString quotedApp = QString(installed(appInBundle)).replace(u'$', QStringLiteral("\\\\$"));
    QVERIFY2(entry.contains(QStringLiteral("Exec=\"%1\" %u").arg(quotedApp)), qPrintable(entry.join(u'\n')));
    QVERIFY(entry.contains(QStringLiteral("TryExec=") + installed(appInBundle)));
    QVERIFY(entry.contains(QStringLiteral("MimeType=x-scheme-handler/tarnwick;")));
    const Run handler = run(QStringLiteral("xdg-mime"), {QStringLiteral("query"), QStringLiteral("default"),
                                                          QStringLiteral("x-scheme-handler/tarnwick")});
    QCOMPARE(handler.output.trimmed(), QStringLiteral("tarnwick.desktop"));
    QVERIFY(installedIcons().contains(QStringLiteral("scalable/apps/tarnwick.svg")));
}

// GIO opens a link the way GNOME does: the default handler from mimeapps.list, its Exec line parsed with
// the quoting rules. The installed program, started with the link, hands it to the running instance.
void Install::desktopHandsTarnwickLinksToTheInstalledProgram()
{
    SingleInstance running(SingleInstance::defaultSocketPath());
    QVERIFY(running.listen());
    QSignalSpy received(&running, &SingleInstance::messageReceived);
    const QString link = QStringLiteral("tarnwick://auth/callback?state=s1&code=c1");

    const Run opened = run(QStringLiteral("gio"), {QStringLiteral("open"), link});
    QVERIFY2(opened.exitCode == 0, qPrintable(opened.output));
    QVERIFY(received.wait(20000));
    QCOMPARE(received.first().first().toString(), link);
}

void Install::replacesAnOlderCopy()
{
    const QString leftOver = installed(QStringLiteral("Contents/Resources/from-an-older-version"));
    QVERIFY(writeText(leftOver, "old"));

    const Run done = install();
    QVERIFY2(done.exitCode == 0, qPrintable(done.output));
    QVERIFY(!QFile::exists(leftOver));
    QVERIFY(QFileInfo(installed(appInBundle)).isExecutable());
    const QDir root(m_prefix + QStringLiteral("/lib/tarnwick"));
    QCOMPARE(root.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("Tarnwick.app")});
}

void Install::restartsARunningHelperFromTheNewCopy()
{
    QVERIFY(QProcess::startDetached(installed(helperInBundle), {}));
    QTRY_VERIFY_WITH_TIMEOUT(HelperInstanceLock::runningHelperPid(), 20000);
    const qint64 before = *HelperInstanceLock::runningHelperPid();

    const Run done = install();
    QVERIFY2(done.exitCode == 0, qPrintable(done.output));
    QTRY_VERIFY_WITH_TIMEOUT(HelperInstanceLock::runningHelperPid().value_or(before) != before, 20000);
    QCOMPARE(executableOf(*HelperInstanceLock::runningHelperPid()), installed(helperInBundle));
}

void Install::refusesAnIncompleteBundleAndKeepsTheInstallation()
{
    QTemporaryDir broken;
    QVERIFY(writeText(broken.filePath(appInBundle), "#!/bin/sh\n"));
    QVERIFY(QFile::setPermissions(broken.filePath(appInBundle), QFileDevice::ReadOwner | QFileDevice::ExeOwner));

    const Run done = install(broken.path());
    QCOMPARE(done.exitCode, 1);
    QVERIFY2(done.output.contains(QStringLiteral("is incomplete")), qPrintable(done.output));
    QCOMPARE(run(m_prefix + QStringLiteral("/bin/tarnwick"), {QStringLiteral("--version")}).exitCode, 0);
    QVERIFY(QFileInfo(installed(helperInBundle)).isExecutable());
}

void Install::uninstallRemovesAllButTheUserData()
{
    QVERIFY(HelperInstanceLock::runningHelperPid());
    QVERIFY(writeText(userData(), "{}"));
    QVERIFY(writeText(autostartEntry(), "[Desktop Entry]\nType=Application\n"));
    // Another program's association in the same list stays.
    const QString mimeapps = configHome() + QStringLiteral("/mimeapps.list");
    const Run other = run(QStringLiteral("xdg-mime"), {QStringLiteral("default"), QStringLiteral("other.desktop"),
                                                        QStringLiteral("x-scheme-handler/other")});
    QCOMPARE(other.exitCode, 0);

    const Run done = uninstall();
    QVERIFY2(done.exitCode == 0, qPrintable(done.output));
    QVERIFY(!HelperInstanceLock::runningHelperPid());
    QVERIFY(!QFileInfo::exists(m_prefix + QStringLiteral("/lib/tarnwick")));
    QVERIFY(!QFileInfo::exists(m_prefix + QStringLiteral("/bin/tarnwick")));
    QVERIFY(!QFileInfo::exists(desktopEntry()));
    QVERIFY(!QFileInfo::exists(autostartEntry()));
    QCOMPARE(installedIcons(), QStringList());
    QVERIFY(!readText(mimeapps).contains(QStringLiteral("tarnwick")));
    QVERIFY(readText(mimeapps).contains(QStringLiteral("x-scheme-handler/other=other.desktop")));
    QCOMPARE(readText(userData()), QStringLiteral("{}"));
}

void Install::purgeAlsoRemovesTheDataAndTheCredential()
{
    const Run installedAgain = install();
    QVERIFY2(installedAgain.exitCode == 0, qPrintable(installedAgain.output));
    const QStringList storeCredential{QStringLiteral("store"), QStringLiteral("--label=Tarnwick"),
                                      QStringLiteral("service"), QStringLiteral("com.tarnwick.mac"),
                                      QStringLiteral("account"), QStringLiteral("device-credential")};
    const Run stored = run(QStringLiteral("secret-tool"), storeCredential,
                           "twk_device_credential-for-the-test");
    QCOMPARE(stored.exitCode, 0);
    QVERIFY(!credentialInKeyring().isEmpty());

    const Run done = uninstall({QStringLiteral("--purge")});
    QVERIFY2(done.exitCode == 0, qPrintable(done.output));
    QVERIFY(!QFileInfo::exists(dataHome() + QStringLiteral("/Tarnwick")));
    QVERIFY(credentialInKeyring().isEmpty());
    QVERIFY(!QFileInfo::exists(installed(appInBundle)));
}

QTEST_GUILESS_MAIN(Install)
#include "tst_install.moc"
