#include "StatusRedactor.h"

#include <QRegularExpression>
#include <QTextBoundaryFinder>

#include <array>

namespace {

const QString replacement = QStringLiteral("[REDACTED]");

// Applied in this order, each to the previous one's result, so "token: [REDACTED]" left by the earlier
// patterns collapses into a single "[REDACTED]" under the key-word pattern. Whitespace means the Unicode
// White_Space property, as \s does in ICU; PCRE2's own \s also takes U+180E, which is no longer a space.
// A device token's secret may hold letters and digits of any script (with their combining marks), as the
// credential parser accepts them, so those count as token characters too: an ASCII-only class would let
// such a token through whole.
const std::array<QString, 3> patterns{
    QStringLiteral("twk_device_[0-9a-fA-F-]{36}\\.[\\p{L}\\p{M}\\p{N}_-]{20,}"),
    QStringLiteral("(?i)Bearer\\p{White_Space}+[A-Za-z0-9._-]+"),
    QStringLiteral("(?i)(token|secret|credential|api[_ -]?key)\\p{White_Space}*[:=]\\p{White_Space}*"
                   "\\P{White_Space}+"),
};

// Each thread compiles its own copies, since a QRegularExpression is only reentrant and the helper
// redacts on its supervisor thread too.
const std::array<QRegularExpression, 3> &compiledPatterns()
{
    thread_local const std::array<QRegularExpression, 3> compiled{
        QRegularExpression(patterns[0], QRegularExpression::UseUnicodePropertiesOption),
        QRegularExpression(patterns[1], QRegularExpression::UseUnicodePropertiesOption),
        QRegularExpression(patterns[2], QRegularExpression::UseUnicodePropertiesOption),
    };
    return compiled;
}

// PCRE2 refuses to match in text holding an unpaired surrogate (a JSON "\ud800" decodes to one), which
// would let every secret in it through; such a surrogate becomes U+FFFD first.
QString withPairedSurrogates(const QString &text)
{
    if (text.isValidUtf16())
        return text;
    QString repaired = text;
    for (qsizetype i = 0; i < repaired.size(); ++i) {
        const bool pairStartsHere = repaired[i].isHighSurrogate() && i + 1 < repaired.size()
            && repaired[i + 1].isLowSurrogate();
        if (pairStartsHere)
            ++i;
        else if (repaired[i].isSurrogate())
            repaired[i] = QChar::ReplacementCharacter;
    }
    return repaired;
}

// The first `count` user-perceived characters: the cut falls on a grapheme cluster boundary, so it never
// splits an emoji sequence, a flag or a letter from its combining marks.
QString leadingGraphemes(const QString &text, qsizetype count)
{
    QTextBoundaryFinder boundaries(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype i = 0; i < count; ++i) {
        if (boundaries.toNextBoundary() < 0)
            return text;
    }
    return text.left(boundaries.position());
}

} // namespace

QString StatusRedactor::redact(const QString &text)
{
    QString redacted = withPairedSurrogates(text);
    for (const QRegularExpression &pattern : compiledPatterns())
        redacted.replace(pattern, replacement);
    return leadingGraphemes(redacted, maximumLength);
}
