#include "StatusRedactor.h"

#include "credentials/DeviceCredentialParser.h"

#include <QRegularExpression>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <array>

namespace {

const QString replacement = QStringLiteral("[REDACTED]");
constexpr qsizetype minimumSecretCharacters = 20;

// A device token up to its secret: the prefix, 36 hexadecimal digits or hyphens and a dot. The secret is
// read by the credential parser's own rule (see secretRunAt), which no character class can express: a
// letter may carry joiners, variation selectors or modifiers that are neither letters nor marks.
const QString tokenHead = QStringLiteral("twk_device_[0-9a-fA-F-]{36}\\.");

// Applied after the device tokens, in this order, each to the previous one's result, so "token:
// [REDACTED]" left by the earlier replacements collapses into a single "[REDACTED]" under the key-word
// pattern. Whitespace means the Unicode White_Space property, as \s does in ICU; PCRE2's own \s also
// takes U+180E, which is no longer a space.
const std::array<QString, 2> patterns{
    QStringLiteral("(?i)Bearer\\p{White_Space}+[A-Za-z0-9._-]+"),
    QStringLiteral("(?i)(token|secret|credential|api[_ -]?key)\\p{White_Space}*[:=]\\p{White_Space}*"
                   "\\P{White_Space}+"),
};

// Each thread compiles its own copies, since a QRegularExpression is only reentrant and the helper
// redacts on its supervisor thread too.
const QRegularExpression &compiledTokenHead()
{
    thread_local const QRegularExpression compiled(tokenHead);
    return compiled;
}

const std::array<QRegularExpression, 2> &compiledPatterns()
{
    thread_local const std::array<QRegularExpression, 2> compiled{
        QRegularExpression(patterns[0], QRegularExpression::UseUnicodePropertiesOption),
        QRegularExpression(patterns[1], QRegularExpression::UseUnicodePropertiesOption),
    };
    return compiled;
}

// The secret run at the start of `text`. Grapheme clusters are found in a window that grows only while
// the run fills it, so a text full of token heads costs time in proportion to its length rather than the
// rest of the text at every head. Boundaries inside the window are those of the whole text (a boundary
// depends on what comes before it and the character after it), and the window never splits a
// surrogate pair, so a run that ends inside the window is exact.
DeviceCredentialParser::SecretRun secretRunAt(QStringView text)
{
    for (qsizetype window = 128;; window *= 2) {
        qsizetype end = std::min(window, text.size());
        if (end < text.size() && text[end - 1].isHighSurrogate())
            ++end;
        const DeviceCredentialParser::SecretRun run = DeviceCredentialParser::secretRun(text.first(end));
        if (run.length < end || end == text.size())
            return run;
    }
}

// Every device token whose secret has at least 20 characters, left to right: so every token the
// credential parser accepts, whatever its secret is made of.
QString withoutDeviceTokens(const QString &text)
{
    QString result;
    qsizetype copied = 0;
    qsizetype from = 0;
    for (;;) {
        const QRegularExpressionMatch head = compiledTokenHead().match(text, from);
        if (!head.hasMatch())
            break;
        const DeviceCredentialParser::SecretRun secret = secretRunAt(QStringView(text).sliced(head.capturedEnd()));
        if (secret.characters < minimumSecretCharacters) {
            from = head.capturedStart() + 1;
            continue;
        }
        result += QStringView(text).sliced(copied, head.capturedStart() - copied);
        result += replacement;
        copied = from = head.capturedEnd() + secret.length;
    }
    if (copied == 0)
        return text;
    result += QStringView(text).sliced(copied);
    return result;
}

// PCRE2 refuses to match in text holding an unpaired surrogate (a JSON "\ud800" decodes to one), which
// would let every secret in it through; such a surrogate becomes U+FFFD first.
QString withPairedSurrogates(const QString &text)
{
    if (text.isValidUtf16())
        return text;
    QString repaired = text;
    for (qsizetype i = 0; i < repaired.size(); ++i) {
        const bool pairStartsHere =
            repaired[i].isHighSurrogate() && i + 1 < repaired.size() && repaired[i + 1].isLowSurrogate();
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
    return leadingGraphemes(withoutSecrets(text), maximumLength);
}

QString StatusRedactor::withoutSecrets(const QString &text)
{
    QString redacted = withoutDeviceTokens(withPairedSurrogates(text));
    for (const QRegularExpression &pattern : compiledPatterns())
        redacted.replace(pattern, replacement);
    return redacted;
}
