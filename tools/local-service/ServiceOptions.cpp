#include "ServiceOptions.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace {
const QString description =
    QStringLiteral(R"(Speaks Tarnwick's service contract on 127.0.0.1, so that pairing, the device API and
the task activity work offline, for the demo and for tests. Everything it knows lives in
memory and is gone when it stops. When it listens it prints one line with its address.

Routes:
  GET    /connect/mac[/BUILD]?deviceName=…&platform=…&architecture=…&appVersion=…
                      &codeChallenge=…&state=…[&clientBuild=BUILD][&existingDeviceId=UUID]
         The connection page "Allow this Mac". Its button approves the Mac and sends the
         browser to tarnwick://auth/callback?state=…&code=… with the same state and a
         one-time code that can be exchanged once, within 5 minutes.
  POST   /connect/approve            The button of the connection page (form item "connection").
  POST   /api/devices/exchange       {"code": …, "verifier": …}: the verifier's SHA-256
                                     challenge must be the connection's. Answers
                                     {"credential": "twk_device_<UUID>.<secret>", "device": {…}}.
                                     A connection with existingDeviceId keeps that device.
  GET    /api/devices/me             Authorization: Bearer <credential>. Answers {"device": {…}}.
  DELETE /api/devices/me             Disconnects the Mac; its credential is refused from then on.
  GET    /api/devices/me/activity    Answers {"running": {…}, "recent": […]}.
  GET    /                           The task dashboard; /?task=<UUID> is one task's page.

The API refuses with {"error": "…"} and status 400 (bad request, code or verifier), 401
(unknown or disconnected credential), 404 (unknown address) or 405 (method not allowed);
the pages refuse with a page that gives the reason, under the same statuses.)");

std::expected<quint16, QString> parsePort(const QString &text)
{
    bool ok = false;
    const uint port = text.toUInt(&ok);
    if (!ok || port > 65535)
        return std::unexpected(QStringLiteral("The port must be a number from 0 to 65535, not “%1”.").arg(text));
    return quint16(port);
}

std::expected<std::chrono::seconds, QString> parseLifetime(const QString &text)
{
    bool ok = false;
    const int seconds = text.toInt(&ok);
    if (!ok || seconds < 0)
        return std::unexpected(
            QStringLiteral("The code lifetime must be a whole number of seconds, not “%1”.").arg(text));
    return std::chrono::seconds(seconds);
}
}

std::expected<ServiceOptions, QString> ServiceOptions::parse(const QCoreApplication &application)
{
    const QCommandLineOption port(
        QStringLiteral("port"), QStringLiteral("Listen on this port of 127.0.0.1 (default 8787; 0 picks a free one)."),
        QStringLiteral("port"), QStringLiteral("8787"));
    const QCommandLineOption approveImmediately(
        QStringLiteral("approve-immediately"),
        QStringLiteral("Approve every connection at once: the connection page redirects to the callback "
                       "without waiting for its button (for scripted runs)."));
    const QCommandLineOption activity(
        QStringLiteral("activity"),
        QStringLiteral("Report the task activity of this JSON file (the form of the activity answer) "
                       "instead of the demo set of one running and five recent tasks."),
        QStringLiteral("file"));
    QCommandLineOption codeLifetime(QStringLiteral("code-lifetime"),
                                    QStringLiteral("Seconds a connection code stays valid."), QStringLiteral("seconds"),
                                    QStringLiteral("300"));
    codeLifetime.setFlags(QCommandLineOption::HiddenFromHelp);

    QCommandLineParser parser;
    parser.setApplicationDescription(description);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({port, approveImmediately, activity, codeLifetime});
    parser.process(application);
    if (!parser.positionalArguments().isEmpty())
        return std::unexpected(
            QStringLiteral("Unexpected argument “%1”; see --help.").arg(parser.positionalArguments().first()));

    ServiceOptions options;
    const auto portNumber = parsePort(parser.value(port));
    if (!portNumber)
        return std::unexpected(portNumber.error());
    options.port = *portNumber;
    const auto lifetime = parseLifetime(parser.value(codeLifetime));
    if (!lifetime)
        return std::unexpected(lifetime.error());
    options.codeLifetime = *lifetime;
    options.approveImmediately = parser.isSet(approveImmediately);
    if (parser.isSet(activity))
        options.activityFile = parser.value(activity);
    return options;
}
