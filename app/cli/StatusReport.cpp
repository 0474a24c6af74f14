#include "StatusReport.h"

#include "common/EnumTextTable.h"
#include "credentials/KeychainError.h"
#include "status/HelperHealth.h"
#include "status/StatusRedactor.h"

#include <QJsonArray>

namespace {

const QString labelIndent(16, QLatin1Char(' '));

QString labelled(const QString &label, const QString &text)
{
    return (label + QLatin1Char(':')).leftJustified(labelIndent.size()) + text;
}

// How reading one of the shared files went: "ok", "missing", "corrupt" (the decoder refused it) or
// "unreadable" (the file system did), with the reason in the last two cases.
struct FileReading
{
    QString outcome;
    std::optional<QString> problem;
};

template<typename T>
FileReading fileReading(const QString &path, const Result<std::optional<T>> &loaded)
{
    if (loaded)
        return {*loaded ? QStringLiteral("ok") : QStringLiteral("missing"), std::nullopt};
    const QString reason = StatusRedactor::redact(loaded.error().description);
    if (loaded.error().domain == QLatin1String("JSONDecoding"))
        return {QStringLiteral("corrupt"), QStringLiteral("%1 is corrupt: %2").arg(path, reason)};
    return {QStringLiteral("unreadable"), reason};
}

QJsonObject fileJson(const QString &path, const FileReading &reading)
{
    return {{QStringLiteral("path"), path},
            {QStringLiteral("reading"), reading.outcome},
            {QStringLiteral("problem"), reading.problem ? QJsonValue(*reading.problem) : QJsonValue()}};
}

// "12 s", "5 min", "3 h", "2 d": the heartbeat's age at a glance.
QString ageText(qint64 seconds)
{
    if (seconds < 120)
        return QStringLiteral("%1 s").arg(seconds);
    if (seconds < 2 * 3600)
        return QStringLiteral("%1 min").arg(seconds / 60);
    if (seconds < 2 * 86400)
        return QStringLiteral("%1 h").arg(seconds / 3600);
    return QStringLiteral("%1 d").arg(seconds / 86400);
}

QString loginItemText(LoginItemState state)
{
    static constexpr EnumTextTable texts{
        std::pair{LoginItemState::enabled, u"enabled"},
        std::pair{LoginItemState::requiresApproval, u"switched off in the desktop's startup settings"},
        std::pair{LoginItemState::notRegistered, u"not registered"},
        std::pair{LoginItemState::notFound, u"the helper is missing from this installation"},
    };
    return texts.text(state);
}

std::optional<QString> runnerMessage(const LocalState &state)
{
    if (!state.status || !*state.status || !(*state.status)->error())
        return std::nullopt;
    // The helper redacts before it writes; a file written by anything else is taken as untrusted.
    return StatusRedactor::redact(*(*state.status)->error());
}

QStringList folders(const LocalState &state)
{
    return state.config && *state.config ? (*state.config)->allowedRoots : QStringList();
}

} // namespace

StatusReport::StatusReport(const LocalState &state, const QDateTime &now)
    : m_state(state)
    , m_now(now)
{
}

bool StatusReport::isPaired() const
{
    return m_state.config && *m_state.config;
}

bool StatusReport::isFresh() const
{
    return m_state.status && HelperHealth::isFresh(*m_state.status, m_now);
}

bool StatusReport::isReady() const
{
    const bool credentialStored = !m_state.credential || (*m_state.credential && **m_state.credential);
    return isPaired() && isFresh() && credentialStored;
}

std::optional<qint64> StatusReport::heartbeatAge() const
{
    if (!m_state.status || !*m_state.status || !(*m_state.status)->lastHeartbeat())
        return std::nullopt;
    return (*m_state.status)->lastHeartbeat()->secsTo(m_now);
}

QString StatusReport::pairedLine() const
{
    if (isPaired())
        return QStringLiteral("yes, device %1")
            .arg((*m_state.config)->deviceId.toString(QUuid::WithoutBraces).toUpper());
    const FileReading reading = fileReading(m_state.configPath, m_state.config);
    if (!reading.problem)
        return QStringLiteral("no, not set up (no %1)").arg(m_state.configPath);
    return QStringLiteral("unknown, %1").arg(*reading.problem);
}

QString StatusReport::helperLine() const
{
    const FileReading reading = fileReading(m_state.statusPath, m_state.status);
    if (reading.problem)
        return QStringLiteral("unknown, %1").arg(*reading.problem);
    if (!*m_state.status)
        return QStringLiteral("has not run (no %1)").arg(m_state.statusPath);
    QString text = HelperStatus::rawValue((*m_state.status)->state());
    if (const std::optional<qint64> age = heartbeatAge()) {
        text += *age < 0 ? QStringLiteral(", heartbeat in %1 from now").arg(ageText(-*age))
                         : QStringLiteral(", heartbeat %1 ago").arg(ageText(*age));
    } else {
        text += QStringLiteral(", no heartbeat");
    }
    if (isFresh())
        text += QStringLiteral(" (fresh)");
    else if ((*m_state.status)->state() == HelperStatus::State::connected)
        text += QStringLiteral(" (stale: older than %1 s)").arg(HelperHealth::freshnessWindow.count());
    text += m_state.helperPid ? QStringLiteral("; process %1").arg(*m_state.helperPid)
                              : QStringLiteral("; no helper process");
    return text;
}

QString StatusReport::credentialLine() const
{
    const Result<bool> &credential = *m_state.credential;
    if (!credential)
        return credential.error().description;
    return *credential ? QStringLiteral("credential stored") : QStringLiteral("no credential stored");
}

QStringList StatusReport::lines() const
{
    QStringList lines{
        labelled(QStringLiteral("Paired"), pairedLine()),
        labelled(QStringLiteral("Helper"), helperLine()),
        labelled(QStringLiteral("Runner message"), runnerMessage(m_state).value_or(QStringLiteral("none"))),
        labelled(QStringLiteral("Start at login"), loginItemText(m_state.loginItem)),
    };
    const QStringList roots = folders(m_state);
    lines.append(labelled(QStringLiteral("Folders"), roots.isEmpty() ? QStringLiteral("none") : roots.first()));
    for (qsizetype i = 1; i < roots.size(); ++i)
        lines.append(labelIndent + roots.at(i));
    if (m_state.credential)
        lines.append(labelled(QStringLiteral("Keyring"), credentialLine()));
    return lines;
}

QJsonObject StatusReport::json() const
{
    const std::optional<HelperStatus> status = m_state.status ? *m_state.status : std::nullopt;
    const std::optional<QDateTime> heartbeat = status ? status->lastHeartbeat() : std::nullopt;
    const std::optional<qint64> age = heartbeatAge();
    const std::optional<QString> message = runnerMessage(m_state);

    QJsonObject object{
        {QStringLiteral("ready"), isReady()},
        {QStringLiteral("paired"), isPaired()},
        {QStringLiteral("deviceId"),
         isPaired() ? QJsonValue((*m_state.config)->deviceId.toString(QUuid::WithoutBraces).toUpper()) : QJsonValue()},
        {QStringLiteral("configFile"), fileJson(m_state.configPath, fileReading(m_state.configPath, m_state.config))},
        {QStringLiteral("statusFile"), fileJson(m_state.statusPath, fileReading(m_state.statusPath, m_state.status))},
        {QStringLiteral("helperState"), status ? QJsonValue(HelperStatus::rawValue(status->state())) : QJsonValue()},
        {QStringLiteral("lastHeartbeat"),
         heartbeat ? QJsonValue(heartbeat->toUTC().toString(Qt::ISODate)) : QJsonValue()},
        {QStringLiteral("heartbeatAgeSeconds"), age ? QJsonValue(*age) : QJsonValue()},
        {QStringLiteral("fresh"), isFresh()},
        {QStringLiteral("helperPid"), m_state.helperPid ? QJsonValue(*m_state.helperPid) : QJsonValue()},
        {QStringLiteral("runnerMessage"), message ? QJsonValue(*message) : QJsonValue()},
        {QStringLiteral("loginItem"), rawValue(m_state.loginItem)},
        {QStringLiteral("folders"), QJsonArray::fromStringList(folders(m_state))},
        {QStringLiteral("credential"), QJsonValue()},
    };
    if (m_state.credential) {
        const Result<bool> &credential = *m_state.credential;
        object[QStringLiteral("credential")] = QJsonObject{
            {QStringLiteral("present"), credential ? QJsonValue(*credential) : QJsonValue()},
            {QStringLiteral("keychainStatus"), !credential && credential.error().domain == KeychainError::domain()
                                                   ? QJsonValue(credential.error().code)
                                                   : QJsonValue()},
            {QStringLiteral("problem"), credential ? QJsonValue() : QJsonValue(credential.error().description)},
        };
    }
    return object;
}
