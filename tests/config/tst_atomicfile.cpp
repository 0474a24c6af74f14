#include "common/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

mode_t permissionsOf(const QString &path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writePlainFile(const QString &path, const QByteArray &bytes, QFile::Permissions permissions)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
    QVERIFY(file.setPermissions(permissions));
}

} // namespace

class AtomicFileTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_root;
    QString path(const QString &name) const { return m_root->filePath(name); }
    QStringList entries() const
    {
        return QDir(m_root->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }

private Q_SLOTS:
    void init()
    {
        m_root = std::make_unique<QTemporaryDir>();
        QVERIFY(m_root->isValid());
    }

    void ownerOnlyWhateverTheUmask_data()
    {
        QTest::addColumn<int>("umask");
        QTest::addColumn<bool>("existing");
        QTest::newRow("umask 000, new file") << 0000 << false;
        QTest::newRow("umask 000, over a 0666 file") << 0000 << true;
        QTest::newRow("umask 277, new file") << 0277 << false;
    }

    void ownerOnlyWhateverTheUmask()
    {
        QFETCH(int, umask);
        QFETCH(bool, existing);
        const QString target = path(u"status.json"_s);
        if (existing)
            writePlainFile(target, "old", QFile::Permissions(0x6666));

        const mode_t previous = ::umask(static_cast<mode_t>(umask));
        const auto written = AtomicFile::replace(target, "new");
        ::umask(previous);

        QVERIFY2(written, written ? "" : qPrintable(written.error().description));
        QCOMPARE(permissionsOf(target), mode_t(0600));
        QCOMPARE(contentsOf(target), QByteArray("new"));
        QCOMPARE(entries(), QStringList{u"status.json"_s});
    }

    void replacesSymlinkWithoutFollowingIt_data()
    {
        QTest::addColumn<bool>("victimExists");
        QTest::newRow("link to a file") << true;
        QTest::newRow("dangling link") << false;
    }

    void replacesSymlinkWithoutFollowingIt()
    {
        QFETCH(bool, victimExists);
        const QString victim = path(u"victim"_s);
        const QString target = path(u"config.json"_s);
        if (victimExists)
            writePlainFile(victim, "keep me", QFile::Permissions(0x6444));
        QVERIFY(QFile::link(victim, target));

        QVERIFY(AtomicFile::replace(target, "written"));

        QVERIFY(!QFileInfo(target).isSymLink());
        QCOMPARE(contentsOf(target), QByteArray("written"));
        QCOMPARE(QFile::exists(victim), victimExists);
        if (victimExists) {
            QCOMPARE(contentsOf(victim), QByteArray("keep me"));
            QCOMPARE(permissionsOf(victim), mode_t(0644));
        }
    }

    // A file size limit makes the write fail half-way, with EFBIG.
    void failedWriteKeepsOldFile()
    {
        const QString target = path(u"status.json"_s);
        QVERIFY(AtomicFile::replace(target, "old content"));
        rlimit previous{};
        ::getrlimit(RLIMIT_FSIZE, &previous);
        const rlimit limit{4096, previous.rlim_max};
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        ::setrlimit(RLIMIT_FSIZE, &limit);

        const auto written = AtomicFile::replace(target, QByteArray(64 * 1024, 'x'));

        ::setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousHandler);
        QVERIFY(!written);
        QCOMPARE(written.error().code, EFBIG);
        QVERIFY(written.error().description.startsWith(target));
        QCOMPARE(contentsOf(target), QByteArray("old content"));
        QCOMPARE(entries(), QStringList{u"status.json"_s});
    }
};

QTEST_GUILESS_MAIN(AtomicFileTest)
#include "tst_atomicfile.moc"
