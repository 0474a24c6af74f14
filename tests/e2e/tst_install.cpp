// tools/install.sh and tools/uninstall.sh through this build tree's install rules, in the test's own home,
// under a prefix that needs quoting. The steps run in order and build on each other.

#include "TestFiles.h"

#include "common/BuildInfo.h"
#include "common/HelperInstanceLock.h"
#include "platform/InstanceMessage.h"
#include "platform/SingleInstance.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString tools = QStringLiteral(TOOLS_DIR);
const QString appInBundle = QStringLiteral(TARNWICK_APP_IN_BUNDLE);
const QString helperInBundle = QStringLiteral(TARNWICK_HELPER_IN_BUNDLE);
const QStringList keyringItem{u"service"_s, u"com.tarnwick.mac"_s, u"account"_s, u"device-credential"_s};

// The exit code (-1 for a crash or a hang: copying a debug bundle takes a moment) and everything written.
std::pair<int, QString> run(const QString &program, const QStringList &arguments, const QByteArray &input = {})
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
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

QString dataHome(const QString &path)
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + u'/' + path;
}
QString configHome(const QString &path)
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + u'/' + path;
}
QString readText(const QString &path)
{
    return QString::fromUtf8(TestFiles::read(path));
}
QString rawLinkTarget(const QString &path)
{
    char target[4096];
    const ssize_t length = ::readlink(QFile::encodeName(path).constData(), target, sizeof target);
    return length < 0 ? QString() : QFile::decodeName(QByteArray(target, length));
}
bool appendLine(const QString &path, const QString &line)
{
    QFile file(path);
    return file.open(QIODevice::Append) && file.write((line + u'\n').toUtf8()) > 0;
}
qint64 runningHelper()
{
    return HelperInstanceLock::runningHelperPid().value_or(0);
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
    void installsForTheUser()
    {
        RUNS(install());
        QVERIFY(QFileInfo(installed(appInBundle)).isExecutable());
        QVERIFY(QFileInfo(installed(helperInBundle)).isExecutable());
        QVERIFY(QFileInfo(installed(u"Contents/Resources/runner/runner.js"_s)).isFile());
        QVERIFY(QFileInfo(installed(u"Contents/Resources/LogoMark.png"_s)).isFile());
        // A relative link: the installed tree can move as a whole.
        QCOMPARE(QFileInfo(m_prefix + u"/bin/tarnwick"_s).symLinkTarget(), installed(appInBundle));
        QVERIFY(QDir::isRelativePath(rawLinkTarget(m_prefix + u"/bin/tarnwick"_s)));
        for (const QString &file :
             {u"share/man/man1/tarnwick.1"_s, u"share/metainfo/com.tarnwick.Tarnwick.metainfo.xml"_s,
              u"share/icons/hicolor/16x16/apps/com.tarnwick.Tarnwick.png"_s})
            QVERIFY2(QFileInfo(m_prefix + u'/' + file).size() > 0, qPrintable(file));
        // The runtime stays a link to the system's Node.js.
        QCOMPARE(QFileInfo(installed(u"Contents/Resources/runtime/node"_s)).symLinkTarget(),
                 QFileInfo(QStringLiteral(TARNWICK_BUNDLE_DIR "/Contents/Resources/runtime/node")).symLinkTarget());
        const QString version = QStringLiteral(" " TARNWICK_VERSION " (" TARNWICK_BUILD_NUMBER ")\n");
        QCOMPARE(run(m_prefix + u"/bin/tarnwick"_s, {u"--version"_s}), std::pair(0, u"Tarnwick"_s + version));
        QCOMPARE(run(installed(helperInBundle), {u"--version"_s}), std::pair(0, u"TarnwickHelper"_s + version));
        const QStringList entry = readText(m_desktopEntry).split(u'\n');
        const QString quotedLauncher = QString(m_prefix + u"/bin/tarnwick"_s).replace(u'$', u"\\\\$"_s);
        QVERIFY2(entry.contains(u"Exec=\"%1\" %u"_s.arg(quotedLauncher)), qPrintable(entry.join(u'\n')));
        QVERIFY(entry.contains(u"TryExec="_s + m_prefix + u"/bin/tarnwick"_s));
        QVERIFY(entry.contains(u"MimeType=x-scheme-handler/tarnwick;"_s));
        QCOMPARE(run(u"xdg-mime"_s, {u"query"_s, u"default"_s, u"x-scheme-handler/tarnwick"_s}),
                 std::pair(0, u"com.tarnwick.Tarnwick.desktop\n"_s));
        QVERIFY(QFileInfo(m_icon).size() > 0);
    }
    // GIO opens a link the way GNOME does: the default handler from mimeapps.list, its Exec line parsed with
    // the quoting rules. The installed program, started with the link, hands it to the running instance.
    void desktopHandsTarnwickLinksToTheInstalledProgram()
    {
        SingleInstance running(SingleInstance::defaultSocketPath());
        QVERIFY(running.listen());
        QSignalSpy received(&running, &SingleInstance::messageReceived);
        const QString link = u"tarnwick://auth/callback?state=s1&code=c1"_s;
        RUNS(run(u"gio"_s, {u"open"_s, link}));
        QVERIFY(received.wait(20000));
        QCOMPARE(InstanceMessage::decoded(received.first().first().toString()).url, link);
    }
    void restartsARunningHelperFromTheNewCopy()
    {
        QVERIFY(QProcess::startDetached(installed(helperInBundle), {}));
        QTRY_VERIFY_WITH_TIMEOUT(runningHelper(), 20000);
        const qint64 before = runningHelper();
        // A file the earlier installation listed and this one does not write goes.
        const QString stale = m_prefix + u"/share/tarnwick-old/notes.txt"_s;
        QVERIFY(TestFiles::write(stale, "old"));
        QVERIFY(appendLine(m_manifest, stale));
        RUNS(install());
        QVERIFY(!QFileInfo::exists(stale));
        QVERIFY(!QFileInfo::exists(QFileInfo(stale).path()));
        QTRY_VERIFY_WITH_TIMEOUT(runningHelper() && runningHelper() != before, 20000);
        QCOMPARE(QFileInfo(u"/proc/%1/exe"_s.arg(runningHelper())).symLinkTarget(), installed(helperInBundle));
    }
    void refusesAnIncompleteBundleAndKeepsTheInstallation()
    {
        // A build tree of its own, whose bundle holds the setup application only.
        QTemporaryDir buildTree;
        QVERIFY(QFile::copy(QStringLiteral(TARNWICK_BUNDLE_DIR "/../build-settings.sh"),
                            buildTree.filePath(u"build-settings.sh"_s)));
        QVERIFY(TestFiles::write(buildTree.filePath(u"cmake_install.cmake"_s), {}));
        const QDir broken(buildTree.filePath(u"Tarnwick.app"_s));
        QVERIFY(TestFiles::write(broken.filePath(appInBundle), "#!/bin/sh\n"));
        QVERIFY(QFile::setPermissions(broken.filePath(appInBundle), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        const auto [code, output] = install(broken.path());
        QCOMPARE(code, 1);
        QVERIFY2(output.contains(u"is incomplete"_s), qPrintable(output));
        QCOMPARE(run(m_prefix + u"/bin/tarnwick"_s, {u"--version"_s}).first, 0);
        QVERIFY(QFileInfo(installed(helperInBundle)).isExecutable());
    }
    void uninstallRemovesAllButTheUserData()
    {
        QVERIFY(runningHelper());
        QVERIFY(TestFiles::write(dataHome(u"Tarnwick/config.json"_s), "{}"));
        const QString autostartEntry = configHome(u"autostart/com.tarnwick.mac.helper.desktop"_s);
        QVERIFY(TestFiles::write(autostartEntry, "[Desktop Entry]\nType=Application\n"));
        // Another program's association in the same list stays.
        RUNS(run(u"xdg-mime"_s, {u"default"_s, u"other.desktop"_s, u"x-scheme-handler/other"_s}));
        // Only what the installation wrote goes, and never a listed path outside the prefix and data folder.
        const QString usersOwn = m_prefix + u"/share/applications/mine.desktop"_s;
        const QString outside = QDir::home().filePath(u"outside.txt"_s);
        QVERIFY(TestFiles::write(usersOwn, "[Desktop Entry]\n") && TestFiles::write(outside, "mine"));
        QVERIFY(appendLine(m_manifest, outside));
        RUNS(uninstall());
        QVERIFY(!runningHelper());
        for (const QString &gone : {m_prefix + u"/lib/tarnwick"_s, m_prefix + u"/bin"_s, m_prefix + u"/share/man"_s,
                                    m_desktopEntry, autostartEntry, m_icon, m_pngIcon})
            QVERIFY2(!QFileInfo::exists(gone), qPrintable(gone));
        QVERIFY(QFileInfo::exists(usersOwn) && QFileInfo::exists(outside));
        const QString mimeapps = readText(configHome(u"mimeapps.list"_s));
        QVERIFY(!mimeapps.contains(u"tarnwick"_s));
        QVERIFY(mimeapps.contains(u"x-scheme-handler/other=other.desktop"_s));
        QCOMPARE(readText(dataHome(u"Tarnwick/config.json"_s)), u"{}"_s);
    }
    void purgeAlsoRemovesTheDataAndTheCredential()
    {
        RUNS(install());
        RUNS(run(u"secret-tool"_s, QStringList{u"store"_s, u"--label=Tarnwick"_s} + keyringItem,
                 "twk_device_credential-for-the-test"));
        QVERIFY(!run(u"secret-tool"_s, QStringList{u"lookup"_s} + keyringItem).second.isEmpty());
        RUNS(uninstall({u"--purge"_s}));
        QVERIFY(!QFileInfo::exists(dataHome(u"Tarnwick"_s)));
        QVERIFY(run(u"secret-tool"_s, QStringList{u"lookup"_s} + keyringItem).second.isEmpty());
        QVERIFY(!QFileInfo::exists(installed(appInBundle)));
    }

private:
    std::pair<int, QString> install(const QString &bundle = QStringLiteral(TARNWICK_BUNDLE_DIR)) const
    {
        return run(tools + u"/install.sh"_s, {u"--prefix"_s, m_prefix, u"--bundle"_s, bundle});
    }
    std::pair<int, QString> uninstall(const QStringList &options = {}) const
    {
        return run(tools + u"/uninstall.sh"_s, QStringList{u"--prefix"_s, m_prefix} + options);
    }
    QString installed(const QString &part) const { return m_prefix + u"/lib/tarnwick/Tarnwick.app/"_s + part; }

    // Characters the launcher and the desktop entry must quote.
    const QString m_prefix = QDir::home().filePath(u"Tom's $Apps"_s);
    const QString m_manifest = m_prefix + u"/lib/tarnwick/install-manifest.txt"_s;
    const QString m_desktopEntry = dataHome(u"applications/com.tarnwick.Tarnwick.desktop"_s);
    const QString m_icon = dataHome(u"icons/hicolor/scalable/apps/com.tarnwick.Tarnwick.svg"_s);
    const QString m_pngIcon = dataHome(u"icons/hicolor/256x256/apps/com.tarnwick.Tarnwick.png"_s);
};

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
