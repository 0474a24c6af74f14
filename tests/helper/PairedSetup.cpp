#include "PairedSetup.h"

#include "config/AppPaths.h"
#include "config/FileConfigStore.h"
#include "credentials/SystemCredentialStore.h"

#include <QDir>
#include <QUuid>

namespace PairedSetup {

QString credential()
{
    return QStringLiteral("twk_device_3F2504E0-4F89-41D3-9A0C-0305E82C3301.abcdefghijklmnopqrstuvwxyz_ABCDEFGHIJKLMNOP");
}

AppConfig config(const QString &apiUrl)
{
    return AppConfig{apiUrl,
                     QUuid(QStringLiteral("3F2504E0-4F89-41D3-9A0C-0305E82C3301")),
                     QStringLiteral("0.3.0"),
                     {QDir::homePath()},
                     QDir::homePath(),
                     ProviderPaths{QStringLiteral("/usr/bin/codex"), std::nullopt}};
}

bool write(const QString &apiUrl)
{
    return SystemCredentialStore(std::nullopt).save(credential()).has_value()
        && FileConfigStore(AppPaths::config()).save(config(apiUrl)).has_value();
}

} // namespace PairedSetup
