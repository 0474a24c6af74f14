#include "CommandDispatcher.h"

#include "DiagnosticsReport.h"
#include "LocalState.h"
#include "StatusReport.h"
#include "common/AtomicFile.h"
#include "common/BuildInfo.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonDocument>

#include <cstdio>

namespace {

const QString statusCommand = QStringLiteral("status");
const QString diagnoseCommand = QStringLiteral("diagnose");

const char statusHelp[] =
    "Usage: tarnwick status [--json] [--check-keyring]\n"
    "\n"
    "Tells whether this computer can take calls: pairing, the helper's state and heartbeat, the runner's\n"
    "last message, the login item and the chosen folders.\n"
    "\n"
    "  --json           print one JSON object instead of lines\n"
    "  --check-keyring  also tell whether the keyring holds the device credential (never prompts)\n"
    "  -h, --help       show this help\n"
    "\n"
    "Exit status: 0 when paired and the helper is connected with a fresh heartbeat; 1 when not set up,\n"
    "stopped, stale or needing attention (or, with --check-keyring, without a readable credential);\n"
    "2 on a usage error.\n";

const char diagnoseHelp[] =
    "Usage: tarnwick diagnose [--output FILE]\n"
    "\n"
    "Writes a report for a support request: versions, desktop services, the login item, the\n"
    "configuration, the status, the coding agent check and the helper's recent log lines. Secrets are\n"
    "left out.\n"
    "\n"
    "  -o, --output FILE  write the report to FILE (readable by you alone) instead of standard output\n"
    "  -h, --help         show this help\n"
    "\n"
    "Exit status: 0 when the report was written, 1 when it could not be, 2 on a usage error.\n";

void print(std::FILE *stream, const QString &text)
{
    std::fputs(qUtf8Printable(text), stream);
}

// Parses the command's own options; on a usage error says so and answers false.
bool parse(QCommandLineParser &parser, const QStringList &arguments, const QString &command)
{
    // The first element stands for the program; the command name itself is not an argument.
    QStringList options = arguments.mid(2);
    options.prepend(arguments.first());
    if (!parser.parse(options)) {
        print(stderr, QStringLiteral("tarnwick %1: %2\n").arg(command, parser.errorText()));
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        print(stderr, QStringLiteral("tarnwick %1: unexpected argument '%2'\n")
                          .arg(command, parser.positionalArguments().first()));
        return false;
    }
    return true;
}

int runStatus(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, {});
    const QCommandLineOption json(QStringLiteral("json"), {});
    const QCommandLineOption checkKeyring(QStringLiteral("check-keyring"), {});
    parser.addOptions({help, json, checkKeyring});
    if (!parse(parser, arguments, statusCommand)) {
        std::fputs("Try 'tarnwick status --help'.\n", stderr);
        return CommandDispatcher::usageError;
    }
    if (parser.isSet(help)) {
        std::fputs(statusHelp, stdout);
        return CommandDispatcher::success;
    }
    const LocalState state = LocalState::read(parser.isSet(checkKeyring) ? LocalState::CredentialCheck::presence
                                                                         : LocalState::CredentialCheck::skip);
    const StatusReport report(state, QDateTime::currentDateTimeUtc());
    if (parser.isSet(json))
        std::fputs(QJsonDocument(report.json()).toJson(QJsonDocument::Compact).append('\n').constData(), stdout);
    else
        print(stdout, report.lines().join(QLatin1Char('\n')) + QLatin1Char('\n'));
    return report.exitStatus();
}

int runDiagnose(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, {});
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")}, {}, QStringLiteral("FILE"));
    parser.addOptions({help, output});
    if (!parse(parser, arguments, diagnoseCommand) || (parser.isSet(output) && parser.value(output).isEmpty())) {
        std::fputs("Try 'tarnwick diagnose --help'.\n", stderr);
        return CommandDispatcher::usageError;
    }
    if (parser.isSet(help)) {
        std::fputs(diagnoseHelp, stdout);
        return CommandDispatcher::success;
    }
    const QByteArray report =
        DiagnosticsReport::collect(QDateTime::currentDateTimeUtc()).join(QLatin1Char('\n')).toUtf8() + '\n';
    if (!parser.isSet(output)) {
        std::fwrite(report.constData(), 1, std::size_t(report.size()), stdout);
        return std::fflush(stdout) == 0 ? CommandDispatcher::success : CommandDispatcher::failed;
    }
    if (const Result<void> written = AtomicFile::replace(parser.value(output), report); !written) {
        print(stderr, QStringLiteral("tarnwick diagnose: the report could not be written: %1\n")
                          .arg(written.error().description));
        return CommandDispatcher::failed;
    }
    return CommandDispatcher::success;
}

} // namespace

namespace CommandDispatcher {

bool isCommand(const QStringList &arguments)
{
    return arguments.size() > 1 && (arguments.at(1) == statusCommand || arguments.at(1) == diagnoseCommand);
}

int run(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Tarnwick"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARNWICK_VERSION));
    const QStringList arguments = QCoreApplication::arguments();
    return arguments.at(1) == statusCommand ? runStatus(arguments) : runDiagnose(arguments);
}

QString summary()
{
    return QStringLiteral("Commands (no window or display needed):\n"
                          "  status [--json] [--check-keyring]  tell whether this computer can take calls;\n"
                          "                                     exit status 0 if it can, 1 if not, 2 on a usage error\n"
                          "  diagnose [--output FILE]           write a report for a support request\n"
                          "Run 'tarnwick COMMAND --help' for more.");
}

} // namespace CommandDispatcher
