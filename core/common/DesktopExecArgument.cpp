#include "DesktopExecArgument.h"

#include <algorithm>

QString quotedExecArgument(const QString &argument)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    const bool needsQuotes = argument.isEmpty() || std::any_of(argument.begin(), argument.end(), [](QChar c) {
                                 return reserved.contains(c);
                             });
    QString quoted;
    for (const QChar c : argument) {
        if (needsQuotes && (c == u'"' || c == u'`' || c == u'$' || c == u'\\'))
            quoted += u'\\';
        if (c == u'%')
            quoted += u'%';
        quoted += c;
    }
    if (needsQuotes)
        quoted = u'"' + quoted + u'"';
    quoted.replace(u'\\', QStringLiteral("\\\\"));
    return quoted;
}
