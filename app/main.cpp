#include "TarnwickApp.h"
#include "cli/CommandDispatcher.h"
#include "common/BuildInfo.h"
#include "logging/LogOutput.h"
#include "model/SetupLog.h"
#include "pairing/PairingSecurity.h"
#include "platform/InstanceMessage.h"
#include "platform/SingleInstance.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QUrl>

#include <cstdio>

namespace {

// The tarnwick: URL among the arguments, or nothing (a start that only wants the window).
QString callbackArgument(const QStringList &arguments)
{
    for (const QString &argument : arguments) {
        if (QUrl(argument).scheme() == PairingSecurity::callbackScheme)
            return argument;
    }
    return {};
}

QStringList argumentList(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

} // namespace

int main(int argc, char *argv[])
{
    // The commands and the options are read before the window's application object exists, so they work
    // without a display.
    const QStringList arguments = argumentList(argc, argv);
    if (CommandDispatcher::isCommand(arguments)) {
        LogOutput::install(false);
        return CommandDispatcher::run(argc, argv);
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Sets up this computer to take calls with Tarnwick.\n\n")
                                     + CommandDispatcher::summary());
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption verbose(QStringLiteral("verbose"),
                                     QStringLiteral("Also log each step, not only problems (to standard error)."));
    parser.addOption(verbose);
    parser.addPositionalArgument(QStringLiteral("url"), QStringLiteral("A tarnwick: link from the browser sign-in."),
                                 QStringLiteral("[url]"));
    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "Tarnwick: %s\n", qUtf8Printable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(help)) {
        // Without an application object the parser cannot name the program.
        std::fputs(
            qUtf8Printable(parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("tarnwick"))),
            stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::puts("Tarnwick " TARNWICK_VERSION " (" TARNWICK_BUILD_NUMBER ")");
        return 0;
    }
    LogOutput::install(parser.isSet(verbose));
    // Before the application object, which takes the X11 startup id for itself.
    const InstanceMessage message = InstanceMessage::fromEnvironment(callbackArgument(parser.positionalArguments()));

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarnwick"));
    QApplication::setApplicationVersion(QStringLiteral(TARNWICK_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("com.tarnwick.Tarnwick"));
    QApplication::setQuitOnLastWindowClosed(false);

    SingleInstance instance(SingleInstance::defaultSocketPath());
    if (instance.forward(message.encoded())) {
        qCInfo(lcSetup) << "Handed over to the running Tarnwick";
        return 0;
    }
    // Without the socket the program still works; it only cannot be reached by a second start.
    instance.listen();

    TarnwickApp app;
    if (!app.showWindow()) {
        qCCritical(lcSetup) << "The window could not be loaded";
        return 1;
    }
    QObject::connect(&instance, &SingleInstance::messageReceived, &app,
                     [&app](const QString &line) { app.handleMessage(InstanceMessage::decoded(line)); });
    // This start's own launch token went to the window's first showing.
    if (!message.url.isEmpty())
        app.handleMessage(InstanceMessage{message.url, {}, {}});
    return application.exec();
}
