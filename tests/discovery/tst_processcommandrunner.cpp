#include "discovery/ProcessCommandRunner.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

class TestProcessCommandRunner : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString script(const QString &name, const QByteArray &body, bool executable = true)
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write %s", qPrintable(path));
        file.write("#!/bin/sh\n" + body + '\n');
        file.close();
        QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner;
        if (executable)
            permissions |= QFile::ExeOwner;
        file.setPermissions(permissions);
        return path;
    }

    // A killed process may stay a zombie for a while when nothing reaps orphans (as in some containers).
    static bool isAlive(qint64 pid)
    {
        QFile stat(u"/proc/%1/stat"_s.arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            return false;
        const QByteArray line = stat.readAll();
        const qsizetype afterName = line.lastIndexOf(") ");
        return afterName >= 0 && line.mid(afterName + 2, 1) != "Z";
    }

    static qint64 readPid(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toLongLong() : 0;
    }

private Q_SLOTS:
    void completedCommand_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");

        QTest::newRow("both streams in one") << QByteArray("echo out; echo err >&2; echo out again")
                                             << QStringList() << 0 << u"out\nerr\nout again\n"_s;
        QTest::newRow("exit status 3, output untrimmed")
            << QByteArray("printf 'ok\\n'; exit 3") << QStringList() << 3 << u"ok\n"_s;
        QTest::newRow("nothing printed") << QByteArray("exit 0") << QStringList() << 0 << QString();
        QTest::newRow("arguments reach the program as given")
            << QByteArray("for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done")
            << QStringList{u"two words"_s, u"\"double\""_s, u"it's"_s, u"$HOME"_s, u"*"_s, QString(),
                           u"a\\b"_s}
            << 0 << u"[two words]\n[\"double\"]\n[it's]\n[$HOME]\n[*]\n[]\n[a\\b]\n"_s;
        QTest::newRow("UTF-8 decoded") << QByteArray("printf 'caf\\303\\251 \\342\\200\\246'") << QStringList() << 0
                                       << u"café …"_s;
        QTest::newRow("invalid byte") << QByteArray("printf 'a\\377b'") << QStringList() << 0 << u"a\uFFFDb"_s;
        QTest::newRow("cut-off sequence is one replacement")
            << QByteArray("printf 'a\\342\\202z\\360\\237\\230'") << QStringList() << 0 << u"a\uFFFDz\uFFFD"_s;
        QTest::newRow("overlong form, byte by byte")
            << QByteArray("printf 'a\\300\\257z'") << QStringList() << 0 << u"a\uFFFD\uFFFDz"_s;
        QTest::newRow("encoded surrogate, byte by byte")
            << QByteArray("printf '\\355\\240\\200\\342\\202\\254'") << QStringList() << 0
            << u"\uFFFD\uFFFD\uFFFD€"_s;
        QTest::newRow("standard input is empty") << QByteArray("cat; echo done") << QStringList() << 0
                                                 << u"done\n"_s;
        QTest::newRow("killed by a signal") << QByteArray("echo before; kill -KILL $$") << QStringList()
                                            << 128 + SIGKILL << u"before\n"_s;
        QTest::newRow("terminated by a signal")
            << QByteArray("kill -TERM $$") << QStringList() << 128 + SIGTERM << QString();
    }

    void completedCommand()
    {
        QFETCH(QByteArray, body);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, output);

        const CommandResult result = ProcessCommandRunner().run(script(u"command"_s, body), arguments);

        QCOMPARE(result, (CommandResult{exitCode, output}));
    }

    void programThatCannotStart_data()
    {
        QTest::addColumn<QString>("executable");

        QTest::newRow("missing path") << m_dir.filePath(u"missing"_s);
        QTest::newRow("no execute permission") << script(u"plain"_s, "exit 0", false);
        QTest::newRow("a directory") << m_dir.path();
        QTest::newRow("bare name is not searched for") << u"sh"_s;
        QTest::newRow("empty") << QString();
    }

    void programThatCannotStart()
    {
        QFETCH(QString, executable);

        const CommandResult result = ProcessCommandRunner().run(executable, {u"-c"_s, u"exit 0"_s});

        QCOMPARE(result.exitCode, -1);
        QVERIFY(!result.output.isEmpty());
    }

    void largeOutputDoesNotStall()
    {
        const qsizetype size = 2 * 1024 * 1024;
        const QString path = script(u"large"_s, "head -c 2097152 /dev/zero | tr '\\000' x; echo end >&2; exit 4");

        const CommandResult result = ProcessCommandRunner(30s).run(path, {});

        QCOMPARE(result.exitCode, 4);
        QCOMPARE(result.output.size(), size + 4);
        QVERIFY(result.output.endsWith(u"xend\n"_s));
    }

    void timeLimitStopsTheCommandAndWhatItStarted()
    {
        const QString pidFile = m_dir.filePath(u"background.pid"_s);
        const QString path =
            script(u"hang"_s, "sleep 60 &\necho $! > '" + pidFile.toUtf8() + "'\necho waiting\nsleep 60");

        QElapsedTimer elapsed;
        elapsed.start();
        const CommandResult result = ProcessCommandRunner(1s).run(path, {});

        QCOMPARE(result, (CommandResult{-1, path + u" did not finish within 1 second and was stopped."_s}));
        QVERIFY(elapsed.elapsed() < 20'000);
        const qint64 background = readPid(pidFile);
        QVERIFY(background > 0);
        QTRY_VERIFY_WITH_TIMEOUT(!isAlive(background), 10'000);
    }

    // A daemon started by a login script may keep the output pipe open after the command itself ended.
    void endOfCommandDoesNotWaitForItsBackgroundChildren()
    {
        const QString pidFile = m_dir.filePath(u"daemon.pid"_s);
        const QString path = script(u"daemon"_s, "sleep 60 &\necho $! > '" + pidFile.toUtf8() + "'\necho started");

        QElapsedTimer elapsed;
        elapsed.start();
        const CommandResult result = ProcessCommandRunner().run(path, {});
        const qint64 daemon = readPid(pidFile);
        if (daemon > 0)
            ::kill(static_cast<pid_t>(daemon), SIGKILL);

        QCOMPARE(result, (CommandResult{0, u"started\n"_s}));
        QVERIFY(elapsed.elapsed() < 30'000);
    }
};

QTEST_GUILESS_MAIN(TestProcessCommandRunner)
#include "tst_processcommandrunner.moc"
