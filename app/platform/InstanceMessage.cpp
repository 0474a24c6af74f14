#include "InstanceMessage.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

const QString urlKey = QStringLiteral("url");
const QString activationTokenKey = QStringLiteral("xdgActivationToken");
const QString startupIdKey = QStringLiteral("desktopStartupId");

} // namespace

InstanceMessage InstanceMessage::fromEnvironment(QString url)
{
    return InstanceMessage{std::move(url), qgetenv("XDG_ACTIVATION_TOKEN"), qgetenv("DESKTOP_STARTUP_ID")};
}

QString InstanceMessage::encoded() const
{
    const QJsonObject object{{urlKey, url},
                             {activationTokenKey, QString::fromUtf8(xdgActivationToken)},
                             {startupIdKey, QString::fromUtf8(desktopStartupId)}};
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

InstanceMessage InstanceMessage::decoded(const QString &line)
{
    const QJsonObject object = QJsonDocument::fromJson(line.toUtf8()).object();
    return InstanceMessage{object.value(urlKey).toString(), object.value(activationTokenKey).toString().toUtf8(),
                           object.value(startupIdKey).toString().toUtf8()};
}
