#include "common/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

mode_t permissionsOf(const QString &path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

bool isRegularFile(const QString &path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode);
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
    file.close();
    QVERIFY(file.setPermissions(permissions));
}

QStringList entriesOf(const QString &directory)
{
    return QDir(directory).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// Sets the process umask for the lifetime of the object.
class ScopedUmask
{
public:
    explicit ScopedUmask(mode_t mask) : m_previous(::umask(mask)) { }
    ~ScopedUmask() { ::umask(m_previous); }

private:
    mode_t m_previous;
};

// Caps the size of any file this process writes, so a write fails half-way with EFBIG.
class ScopedFileSizeLimit
{
public:
    explicit ScopedFileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_previous);
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{bytes, m_previous.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~ScopedFileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_previousHandler);
    }

private:
    rlimit m_previous{};
    void (*m_previousHandler)(int) = nullptr;
};

} // namespace

class AtomicFileTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void ownerOnlyWhateverTheUmask_data();
    void ownerOnlyWhateverTheUmask();
    void createsMissingDirectories_data();
    void createsMissingDirectories();
    void replacesSymlinkWithoutFollowingIt_data();
    void replacesSymlinkWithoutFollowingIt();
    void failedWriteKeepsOldFile();
    void directoryAtTargetIsLeftAlone();
    void parentThatIsAFileFails();
    void readsWhatIsThere();
    void readingADirectoryFails();
    void removesOnlyFiles();

private:
    std::unique_ptr<QTemporaryDir> m_root;
    QString path(const QString &name) const { return m_root->filePath(name); }
};

void AtomicFileTest::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    QVERIFY(m_root->isValid());
}

void AtomicFileTest::ownerOnlyWhateverTheUmask_data()
{
    QTest::addColumn<int>("umask");
    QTest::addColumn<bool>("existing");

    for (const int mask : {0000, 0022, 0077, 0277}) {
        QTest::addRow("umask %03o, new file", mask) << mask << false;
        QTest::addRow("umask %03o, over a 0666 file", mask) << mask << true;
    }
}

void AtomicFileTest::ownerOnlyWhateverTheUmask()
{
    QFETCH(int, umask);
    QFETCH(bool, existing);
    const QString target = path(QStringLiteral("status.json"));
    if (existing)
        writePlainFile(target, "old", QFile::Permissions(0x6666));

    const ScopedUmask mask(static_cast<mode_t>(umask));
    const auto written = AtomicFile::replace(target, "new");

    QVERIFY2(written, written ? "" : qPrintable(written.error().description));
    QCOMPARE(permissionsOf(target), mode_t(0600));
    QCOMPARE(contentsOf(target), QByteArray("new"));
    QCOMPARE(entriesOf(m_root->path()), QStringList{QStringLiteral("status.json")});
}

void AtomicFileTest::createsMissingDirectories_data()
{
    QTest::addColumn<AtomicFile::DirectorySync>("sync");

    QTest::newRow("flushing the directory") << AtomicFile::DirectorySync::yes;
    QTest::newRow("without flushing the directory") << AtomicFile::DirectorySync::no;
}

void AtomicFileTest::createsMissingDirectories()
{
    QFETCH(AtomicFile::DirectorySync, sync);
    const QString target = path(QStringLiteral("a/b/Tarnwick/config.json"));

    QVERIFY(AtomicFile::replace(target, "{}", sync));
    QCOMPARE(contentsOf(target), QByteArray("{}"));
}

void AtomicFileTest::replacesSymlinkWithoutFollowingIt_data()
{
    QTest::addColumn<bool>("victimExists");

    QTest::newRow("link to a file") << true;
    QTest::newRow("dangling link") << false;
}

void AtomicFileTest::replacesSymlinkWithoutFollowingIt()
{
    QFETCH(bool, victimExists);
    const QString victim = path(QStringLiteral("victim"));
    const QString target = path(QStringLiteral("config.json"));
    if (victimExists)
        writePlainFile(victim, "keep me", QFile::Permissions(0x6444));
    QVERIFY(QFile::link(victim, target));

    QVERIFY(AtomicFile::replace(target, "written"));

    QVERIFY(isRegularFile(target));
    QCOMPARE(contentsOf(target), QByteArray("written"));
    QCOMPARE(QFile::exists(victim), victimExists);
    if (victimExists) {
        QCOMPARE(contentsOf(victim), QByteArray("keep me"));
        QCOMPARE(permissionsOf(victim), mode_t(0644));
    }
}

void AtomicFileTest::failedWriteKeepsOldFile()
{
    const QString target = path(QStringLiteral("status.json"));
    QVERIFY(AtomicFile::replace(target, "old content"));

    const ScopedFileSizeLimit limit(4096);
    const auto written = AtomicFile::replace(target, QByteArray(64 * 1024, 'x'));

    QVERIFY(!written);
    QCOMPARE(written.error().domain, QStringLiteral("POSIX"));
    QCOMPARE(written.error().code, EFBIG);
    QVERIFY(written.error().description.startsWith(target));
    QCOMPARE(contentsOf(target), QByteArray("old content"));
    QCOMPARE(entriesOf(m_root->path()), QStringList{QStringLiteral("status.json")});
}

void AtomicFileTest::directoryAtTargetIsLeftAlone()
{
    const QString target = path(QStringLiteral("config.json"));
    QVERIFY(QDir().mkpath(target + QStringLiteral("/inside")));

    const auto written = AtomicFile::replace(target, "{}");

    QVERIFY(!written);
    QCOMPARE(written.error().code, EISDIR);
    QCOMPARE(entriesOf(target), QStringList{QStringLiteral("inside")});
    QCOMPARE(entriesOf(m_root->path()), QStringList{QStringLiteral("config.json")});
}

void AtomicFileTest::parentThatIsAFileFails()
{
    writePlainFile(path(QStringLiteral("Tarnwick")), "a file", QFile::Permissions(0x6600));

    const auto written = AtomicFile::replace(path(QStringLiteral("Tarnwick/config.json")), "{}");

    QVERIFY(!written);
    QCOMPARE(written.error().domain, QStringLiteral("POSIX"));
    QCOMPARE(contentsOf(path(QStringLiteral("Tarnwick"))), QByteArray("a file"));
}

void AtomicFileTest::readsWhatIsThere()
{
    const QString target = path(QStringLiteral("status.json"));
    const auto missing = AtomicFile::readIfPresent(target);
    QVERIFY(missing);
    QVERIFY(!missing->has_value());

    QVERIFY(QFile::link(path(QStringLiteral("nowhere")), target));
    const auto dangling = AtomicFile::readIfPresent(target);
    QVERIFY(dangling);
    QVERIFY(!dangling->has_value());

    const QByteArray large(100 * 1024 + 7, 'z');
    QVERIFY(AtomicFile::replace(target, large));
    const auto present = AtomicFile::readIfPresent(target);
    QVERIFY(present && present->has_value());
    QCOMPARE(**present, large);

    QVERIFY(AtomicFile::replace(target, QByteArray()));
    const auto empty = AtomicFile::readIfPresent(target);
    QVERIFY(empty && empty->has_value());
    QVERIFY((*empty)->isEmpty());
}

void AtomicFileTest::readingADirectoryFails()
{
    const auto read = AtomicFile::readIfPresent(m_root->path());

    QVERIFY(!read);
    QCOMPARE(read.error().code, EISDIR);
}

void AtomicFileTest::removesOnlyFiles()
{
    const QString target = path(QStringLiteral("config.json"));
    QVERIFY(AtomicFile::replace(target, "{}"));

    QVERIFY(AtomicFile::removeIfPresent(target));
    QVERIFY(!QFile::exists(target));
    QVERIFY(AtomicFile::removeIfPresent(target));
    QVERIFY(QDir(m_root->path()).exists());

    const QString directory = path(QStringLiteral("folder"));
    QVERIFY(QDir().mkdir(directory));
    QVERIFY(!AtomicFile::removeIfPresent(directory));
    QVERIFY(QDir(directory).exists());
}

QTEST_GUILESS_MAIN(AtomicFileTest)
#include "tst_atomicfile.moc"
