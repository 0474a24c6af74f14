// Whatever the computer's name and the build, the connection page carries them back unchanged to a
// standard query decoder, and the build stays one path segment.
#include "pairing/PairingSecurity.h"

#include <QUrlQuery>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype split = text.indexOf(u'\n');
    const QString deviceName = split < 0 ? text : text.left(split);
    const std::optional<QString> build = split < 0 ? std::nullopt : std::optional(text.mid(split + 1));
    const PairingRequest request{QStringLiteral("v"), QStringLiteral("c"), QStringLiteral("s")};

    const auto url = PairingSecurity::connectionURL(QUrl(QStringLiteral("https://service.example/base")), request,
                                                    deviceName, QStringLiteral("0.3.0"), build, std::nullopt);
    if (!url)
        __builtin_trap();
    const QUrl sent = QUrl::fromEncoded(url->toEncoded());
    const auto items = QUrlQuery(sent).queryItems(QUrl::FullyDecoded);
    if (items.size() != (build ? 7 : 6) || items.constFirst().second != deviceName)
        __builtin_trap();
    if (build && (items.last().second != *build || sent.path(QUrl::FullyEncoded).count(u'/') != 4))
        __builtin_trap();
    return 0;
}
