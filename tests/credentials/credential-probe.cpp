// Runs one operation of the credential store and prints its outcome, so a test can run the store in a
// process whose session bus it chooses:
//   credential-probe read | save | remove
// `save` takes the credential from the first line of standard input, never from the arguments. Prints "ok",
// "ok <credential>", "absent" or "failed <code> <description>".
#include "credentials/SystemCredentialStore.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

QString outcome(const Error &error)
{
    return QStringLiteral("failed %1 %2").arg(error.code).arg(error.description);
}

QString outcome(const Result<void> &result)
{
    return result ? QStringLiteral("ok") : outcome(result.error());
}

QString outcome(const Result<std::optional<QString>> &result)
{
    if (!result)
        return outcome(result.error());
    return *result ? QStringLiteral("ok ") + **result : QStringLiteral("absent");
}

}

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(1);
    const QString operation = arguments.value(0);
    const SystemCredentialStore store(SystemCredentialStore::sharedAccessGroup());
    QString result;
    if (arguments.size() != 1)
        return 2;
    if (operation == u"read")
        result = outcome(store.read());
    else if (operation == u"save")
        result = outcome(store.save(QTextStream(stdin).readLine()));
    else if (operation == u"remove")
        result = outcome(store.remove());
    else
        return 2;
    QTextStream(stdout) << result << Qt::endl;
    return 0;
}
