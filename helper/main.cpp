#include "CredentialReaderProcess.h"
#include "HelperApplication.h"
#include "HelperLocations.h"
#include "HelperLog.h"
#include "TerminationSignals.h"
#include "common/BuildInfo.h"
#include "common/HelperInstanceLock.h"
#include "config/AppPaths.h"
#include "config/FileConfigStore.h"
#include "logging/LogOutput.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <cstdio>

using namespace std::chrono_literals;

namespace {

// A helper that is still quitting gets this long to let go of the session's lock.
constexpr auto lockPatience = 10s;
// The Secret Service answers in well under a second; one that takes longer fails this attempt, and the
// supervisor tries again like after any failed launch.
constexpr auto credentialReadLimit = 10s;

enum class Start { run, verbose, done, usage };

// Answers --help and --version before anything needs a display (so before the application object
// exists, which is why the program's name is put into the help text here).
Start handleCommandLine(const QStringList &arguments)
{
    const auto helpText = [&arguments](const QCommandLineParser &parser) {
        return parser.helpText().replace(QStringLiteral("<executable_name>"), QFileInfo(arguments.first()).fileName());
    };
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Tarnwick's background helper: keeps the runner going while you are logged in and "
                       "shows its state in the tray. It is started at login. Its messages go to standard "
                       "error (the session's journal when started at login)."));
    // Not addHelpOption(): its --help-all lists Qt's own options, which the helper does not take.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and build."));
    const QCommandLineOption verbose(QStringLiteral("verbose"),
                                     QStringLiteral("Also log launches, exits and other events, not only problems."));
    parser.addOptions({help, version, verbose});
    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "%s\n%s", qPrintable(parser.errorText()), qPrintable(helpText(parser)));
        return Start::usage;
    }
    if (parser.isSet(help) || parser.isSet(version)) {
        const QString text = parser.isSet(help)
                                 ? helpText(parser)
                                 : QStringLiteral("TarnwickHelper %1 (%2)\n")
                                       .arg(QStringLiteral(TARNWICK_VERSION), QStringLiteral(TARNWICK_BUILD_NUMBER));
        std::fputs(qPrintable(text), stdout);
        return Start::done;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "TarnwickHelper takes no arguments.\n%s", qPrintable(helpText(parser)));
        return Start::usage;
    }
    return parser.isSet(verbose) ? Start::verbose : Start::run;
}

QStringList argumentList(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

// The Linux parts: the credential read by the reader program beside the helper, the files under the data
// directory, and the bundle the helper sits in.
HelperParts systemParts()
{
    HelperParts parts;
    parts.credentialReader = std::make_shared<CredentialReaderProcess>(
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("TarnwickCredentialReader")),
        credentialReadLimit);
    parts.configStore = std::make_shared<FileConfigStore>(AppPaths::config());
    parts.configPath = AppPaths::config();
    parts.statusPath = AppPaths::status();
    parts.applicationSupportDirectory = AppPaths::applicationSupportDirectory();
    parts.mainAppBundle = HelperLocations::mainAppBundle();
    parts.logoMarkPath =
        QDir(HelperLocations::helperBundle()).filePath(QStringLiteral("Contents/Resources/LogoMark.png"));
    parts.apiClient = [](const QUrl &baseURL) { return DeviceAPIClient(baseURL); };
    return parts;
}

// The session's own quit (and QCoreApplication::quit from anywhere) arrives as a Quit event; it takes the
// same road as a termination signal.
class QuitRequests : public QObject
{
public:
    explicit QuitRequests(std::function<void()> onRequest)
        : m_onRequest(std::move(onRequest))
    {
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == QCoreApplication::instance() && event->type() == QEvent::Quit) {
            m_onRequest();
            return true;
        }
        return false;
    }

private:
    std::function<void()> m_onRequest;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication::setApplicationName(QStringLiteral("TarnwickHelper"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARNWICK_VERSION));
    const Start start = handleCommandLine(argumentList(argc, argv));
    switch (start) {
    case Start::done: return 0;
    case Start::usage: return 2;
    case Start::run:
    case Start::verbose: break;
    }
    LogOutput::install(start == Start::verbose);

    // One helper per session; a second one leaves quietly, without touching the runner.
    const Result<HelperInstanceLock> lock = HelperInstanceLock::acquire(lockPatience);
    if (!lock) {
        // Another helper holding the lock is the usual case and no fault; a lock file that cannot be used is.
        if (lock.error().code == EWOULDBLOCK)
            qCInfo(lcHelper).noquote() << "Not starting:" << lock.error().description;
        else
            qCWarning(lcHelper).noquote()
                << "Not starting: the helper's lock could not be taken:" << lock.error().description;
        return 0;
    }
    qCInfo(lcHelper) << "Started, version" << TARNWICK_VERSION << "build" << TARNWICK_BUILD_NUMBER;

    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QGuiApplication::setDesktopFileName(QStringLiteral("com.tarnwick.mac.helper"));

    HelperApplication helper(systemParts());
    QObject::connect(&helper, &HelperApplication::terminationConfirmed, &application,
                     [] { QCoreApplication::exit(0); });
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &helper,
                     &HelperApplication::requestTermination);
    QuitRequests quitRequests([&helper] { helper.requestTermination(); });
    application.installEventFilter(&quitRequests);

    QTimer::singleShot(0, &helper, &HelperApplication::start);
    application.exec();
    qCInfo(lcHelper) << "Quitting";
    return 0;
}
