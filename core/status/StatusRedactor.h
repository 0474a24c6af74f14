#pragma once

#include <QString>

// Strips credential tokens, bearer values and assignments to secret-looking keys out of a text before it
// reaches the status file, then cuts it to 500 user-perceived characters.
namespace StatusRedactor {

inline constexpr qsizetype maximumLength = 500;

QString redact(const QString &text);

// The same replacements without the cut, for log lines, which have no length limit.
QString withoutSecrets(const QString &text);

} // namespace StatusRedactor
