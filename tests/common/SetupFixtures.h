#pragma once

#include "config/AppConfig.h"
#include "discovery/ProviderReadiness.h"

#include <QByteArray>
#include <QString>
#include <QUuid>

// One paired computer as the setup tests use it: its device, its credential, what the service answers
// about it, and a finished setup for it (two folders, a Codex path).
namespace SetupFixtures {

inline const QUuid device{QStringLiteral("3f2504e0-4f89-41d3-9a0c-0305e82c3301")};
inline const QString mePath = QStringLiteral("/api/devices/me");
inline const ProviderReadiness codexOnly{ProviderPaths{QStringLiteral("/usr/local/bin/codex"), std::nullopt},
                                         true,
                                         false,
                                         {QStringLiteral("Codex is installed and signed in.")}};

inline QString upper(const QUuid &id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}
inline QString credentialFor(const QUuid &id)
{
    return QStringLiteral("twk_device_") + upper(id) + QLatin1Char('.') + QString(43, QLatin1Char('a'));
}
inline QByteArray deviceJson(const QUuid &id)
{
    return QStringLiteral(
               R"({"id":"%1","name":"Studio Mac","platform":"macos","architecture":"arm64","appVersion":"0.3.0","online":true})")
        .arg(upper(id))
        .toUtf8();
}
// The service's answer about the device a credential belongs to.
inline QByteArray meJson(const QUuid &id)
{
    return "{\"device\":" + deviceJson(id) + "}";
}
inline AppConfig finishedConfig()
{
    return AppConfig{QStringLiteral("https://old.example/"),
                     device,
                     QStringLiteral("0.2.0"),
                     {QStringLiteral("/home/user/work"), QStringLiteral("/home/user/site")},
                     QStringLiteral("/home/user/work"),
                     codexOnly.paths};
}

} // namespace SetupFixtures
