#include "LogOutput.h"

#include "status/StatusRedactor.h"

#include <QLoggingCategory>

#include <cstdio>

namespace {

void writeRedacted(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QByteArray line = StatusRedactor::withoutSecrets(qFormatLogMessage(type, context, message)).toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
}

}

void LogOutput::install(bool verbose)
{
    qSetMessagePattern(QStringLiteral("%{if-category}%{category}: %{endif}%{type}: %{message}"));
    if (verbose)
        QLoggingCategory::setFilterRules(QStringLiteral("tarnwick.*=true"));
    qInstallMessageHandler(writeRedacted);
}
