// Runs one operation of the credential store (read, save or remove) and prints "ok" or
// "failed <code> <description>", so a test can choose the session bus the store meets.
#include "credentials/SystemCredentialStore.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

Result<void> perform(const SystemCredentialStore &store, const QString &operation)
{
    if (operation == u"read") {
        const Result<std::optional<QString>> credential = store.read();
        return credential ? Result<void>() : failure(credential.error());
    }
    return operation == u"save" ? store.save(QStringLiteral("twk_probe")) : store.remove();
}

}

int main(int argc, char **argv)
{
    const QCoreApplication application(argc, argv);
    const SystemCredentialStore store(SystemCredentialStore::sharedAccessGroup());
    const Result<void> result = perform(store, application.arguments().value(1));
    QTextStream(stdout) << (result ? QStringLiteral("ok")
                                   : QStringLiteral("failed %1 %2").arg(result.error().code).arg(result.error().description))
                        << Qt::endl;
    return 0;
}
