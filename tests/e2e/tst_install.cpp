// tools/install.sh and tools/uninstall.sh through this build tree's install rules, in the test's own home,
// under a prefix that needs quoting. The steps run in order and build on each other.

#include "TestFiles.h"
#include "TestKeyring.h"

#include "common/BuildInfo.h"
#include "common/HelperInstanceLock.h"
#include "platform/InstanceMessage.h"
#include "platform/SingleInstance.h"

#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <filesystem>

namespace {

const QString appInBundle = QStringLiteral(TARNWICK_APP_IN_BUNDLE);
const QString helperInBundle = QStringLiteral(TARNWICK_HELPER_IN_BUNDLE);

// The exit code (-1 for a crash or a hang: copying a debug bundle takes a moment) and everything written.
std::pair<int, QString> run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(120000))
        process.kill();
    process.waitForFinished();
    const int exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return {exitCode, QString::fromUtf8(process.readAll())};
}
// Fails the test with the program's output unless it exits with 0.
#define RUNS(call) \
    do { \
        const auto ran = call; \
        QVERIFY2(ran.first == 0, qPrintable(ran.second)); \
    } while (false)

qint64 runningHelper()
{
    return HelperInstanceLock::runningHelperPid().value_or(0);
}
bool appendLine(const QString &path, const QString &line)
{
    return TestFiles::write(path, TestFiles::read(path) + QFile::encodeName(line) + '\n');
}

} // namespace

class TestInstall : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanupTestCase()
    {
        if (const qint64 helper = runningHelper()) {
            ::kill(pid_t(helper), SIGTERM);
            QTRY_VERIFY_WITH_TIMEOUT(!runningHelper(), 10000);
        }
    }
    // Installs under a prefix of the user's (the package's check looks at the installed files themselves). GIO
    // then opens a link the way GNOME does: the default handler from mimeapps.list, its Exec line parsed with
    // the quoting rules; the installed program, started with the link, hands it to the running instance.
    void installsForTheUserAndTakesTarnwickLinks()
    {
        RUNS(install());
        for (const QString &file : installedFiles())
            QVERIFY2(QFileInfo::exists(file), qPrintable(file));
        // A relative link: the installed tree can move as a whole.
        QCOMPARE(QFileInfo(m_launcher).symLinkTarget(), installed(appInBundle));
        QVERIFY(std::filesystem::read_symlink(m_launcher.toStdString()).is_relative());
        // The runtime stays a link to the system's Node.js.
        QCOMPARE(QFileInfo(installed(QStringLiteral("Contents/Resources/runtime/node"))).symLinkTarget(),
                 QFileInfo(QStringLiteral(TARNWICK_BUNDLE_DIR "/Contents/Resources/runtime/node")).symLinkTarget());
        // Desktops other than GNOME need the `$` escaped as the entry's format says.
        const QStringList entry = QString::fromUtf8(TestFiles::read(m_desktopEntry)).split(u'\n');
        const QString quotedLauncher = QString(m_launcher).replace(u'$', QStringLiteral("\\\\$"));
        QVERIFY2(entry.contains(QStringLiteral("Exec=\"%1\" %u").arg(quotedLauncher)), qPrintable(entry.join(u'\n')));
        QCOMPARE(run(QStringLiteral("xdg-mime"),
                     {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("x-scheme-handler/tarnwick")}),
                 std::pair(0, QStringLiteral("com.tarnwick.Tarnwick.desktop\n")));
        SingleInstance running(SingleInstance::defaultSocketPath());
        QVERIFY(running.listen());
        QSignalSpy received(&running, &SingleInstance::messageReceived);
        const QString link = QStringLiteral("tarnwick://auth/callback?state=s1&code=c1");
        RUNS(run(QStringLiteral("gio"), {QStringLiteral("open"), link}));
        QVERIFY(received.wait(20000));
        QCOMPARE(InstanceMessage::decoded(received.first().first().toString()).url, link);
    }
    void restartsARunningHelperFromTheNewCopy()
    {
        QVERIFY(QProcess::startDetached(installed(helperInBundle), {}));
        QTRY_VERIFY_WITH_TIMEOUT(runningHelper(), 20000);
        const qint64 before = runningHelper();
        // A file the earlier installation listed and this one does not write goes, with its folder.
        const QString stale = m_prefix + QStringLiteral("/share/tarnwick-old/notes.txt");
        QVERIFY(TestFiles::write(stale, "old") && appendLine(m_manifest, stale));
        RUNS(install());
        QVERIFY(!QFileInfo::exists(QFileInfo(stale).path()));
        QTRY_VERIFY_WITH_TIMEOUT(runningHelper() && runningHelper() != before, 20000);
        QCOMPARE(QFileInfo(QStringLiteral("/proc/%1/exe").arg(runningHelper())).symLinkTarget(),
                 installed(helperInBundle));
    }
    void refusesAnIncompleteBundleAndKeepsTheInstallation()
    {
        // A build tree of its own, whose bundle holds the setup application only.
        QTemporaryDir buildTree;
        QVERIFY(QFile::copy(QStringLiteral(TARNWICK_BUNDLE_DIR "/../build-settings.sh"),
                            buildTree.filePath(QStringLiteral("build-settings.sh"))));
        QVERIFY(TestFiles::write(buildTree.filePath(QStringLiteral("cmake_install.cmake")), {}));
        const QDir broken(buildTree.filePath(QStringLiteral("Tarnwick.app")));
        QVERIFY(TestFiles::writeScript(broken.filePath(appInBundle), {}));
        const auto [code, output] = install(broken.path());
        QCOMPARE(code, 1);
        QVERIFY2(output.contains(QStringLiteral("is incomplete")), qPrintable(output));
        QCOMPARE(run(m_launcher, {QStringLiteral("--version")}).first, 0);
        QVERIFY(QFileInfo(installed(helperInBundle)).isExecutable());
    }
    void uninstallRemovesAllButTheUserData()
    {
        QVERIFY(runningHelper());
        const QString config = m_dataHome + QStringLiteral("/Tarnwick/config.json");
        const QString autostartEntry = m_configHome + QStringLiteral("/autostart/com.tarnwick.mac.helper.desktop");
        QVERIFY(TestFiles::write(config, "{}") && TestFiles::write(autostartEntry, "[Desktop Entry]\n"));
        // Another program's association in the same list stays.
        RUNS(run(QStringLiteral("xdg-mime"), {QStringLiteral("default"), QStringLiteral("other.desktop"),
                                              QStringLiteral("x-scheme-handler/other")}));
        // Only what the installation wrote goes, and never a listed path outside the prefix and data folder.
        const QString usersOwn = m_prefix + QStringLiteral("/share/applications/mine.desktop");
        const QString outside = QDir::home().filePath(QStringLiteral("outside.txt"));
        QVERIFY(TestFiles::write(usersOwn, "[Desktop Entry]\n") && TestFiles::write(outside, "mine"));
        QVERIFY(appendLine(m_manifest, outside));
        RUNS(uninstall());
        QVERIFY(!runningHelper());
        for (const QString &gone : installedFiles() + QStringList{autostartEntry})
            QVERIFY2(!QFileInfo::exists(gone), qPrintable(gone));
        QVERIFY(QFileInfo::exists(usersOwn) && QFileInfo::exists(outside));
        const QByteArray mimeapps = TestFiles::read(m_configHome + QStringLiteral("/mimeapps.list"));
        QVERIFY(!mimeapps.contains("tarnwick"));
        QVERIFY(mimeapps.contains("x-scheme-handler/other=other.desktop"));
        QCOMPARE(TestFiles::read(config), QByteArray("{}"));
    }
    // The data the uninstall kept, and the credential, go with --purge (the installation itself goes as above).
    void purgeAlsoRemovesTheDataAndTheCredential()
    {
        QVERIFY(QFileInfo::exists(m_dataHome + QStringLiteral("/Tarnwick/config.json")));
        QVERIFY(TestKeyring::storeRaw("twk_device_credential-for-the-test"));
        RUNS(uninstall({QStringLiteral("--purge")}));
        QVERIFY(!QFileInfo::exists(m_dataHome + QStringLiteral("/Tarnwick")));
        QCOMPARE(TestKeyring::credentialSecrets(), QList<QByteArray>());
    }

private:
    std::pair<int, QString> install(const QString &bundle = QStringLiteral(TARNWICK_BUNDLE_DIR)) const
    {
        return run(QStringLiteral(TOOLS_DIR "/install.sh"),
                   {QStringLiteral("--prefix"), m_prefix, QStringLiteral("--bundle"), bundle});
    }
    std::pair<int, QString> uninstall(const QStringList &options = {}) const
    {
        return run(QStringLiteral(TOOLS_DIR "/uninstall.sh"),
                   QStringList{QStringLiteral("--prefix"), m_prefix} + options);
    }
    QString installed(const QString &part) const
    {
        return m_prefix + QStringLiteral("/lib/tarnwick/Tarnwick.app/") + part;
    }
    QStringList installedFiles() const
    {
        return {m_prefix + QStringLiteral("/lib/tarnwick"),
                m_prefix + QStringLiteral("/bin"),
                m_prefix + QStringLiteral("/share/man"),
                m_desktopEntry,
                m_icon,
                m_dataHome + QStringLiteral("/icons/hicolor/256x256/apps/com.tarnwick.Tarnwick.png")};
    }

    // Characters the launcher and the desktop entry must quote.
    const QString m_prefix = QDir::home().filePath(QStringLiteral("Tom's $Apps"));
    const QString m_launcher = m_prefix + QStringLiteral("/bin/tarnwick");
    const QString m_manifest = m_prefix + QStringLiteral("/lib/tarnwick/install-manifest.txt");
    const QString m_dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString m_configHome = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    const QString m_desktopEntry = m_dataHome + QStringLiteral("/applications/com.tarnwick.Tarnwick.desktop");
    const QString m_icon = m_dataHome + QStringLiteral("/icons/hicolor/scalable/apps/com.tarnwick.Tarnwick.svg");
};

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
