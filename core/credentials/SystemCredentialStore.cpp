#include "SystemCredentialStore.h"

#include "KeychainError.h"
#include "SecretServiceSession.h"

#include <QStringDecoder>

namespace {

struct FoundItems
{
    SecretServiceSession session;
    SecretServiceSession::Paths items;
};

// Where every operation starts: the store's items, unlocked, or why they cannot be reached.
Result<FoundItems> findItems(const std::optional<QString> &accessGroup,
                             SystemCredentialStore::UnlockPrompt unlockPrompt)
{
    Result<SecretServiceSession> session = SecretServiceSession::open(accessGroup, unlockPrompt);
    if (!session)
        return failure(session.error());
    Result<SecretServiceSession::Paths> items = session->unlockedItems();
    if (!items)
        return failure(items.error());
    return FoundItems{std::move(*session), std::move(*items)};
}

std::optional<QString> decodeUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

}

SystemCredentialStore::SystemCredentialStore(std::optional<QString> accessGroup, UnlockPrompt unlockPrompt)
    : m_accessGroup(std::move(accessGroup))
    , m_unlockPrompt(unlockPrompt)
{
}

std::optional<QString> SystemCredentialStore::sharedAccessGroup()
{
    return std::nullopt;
}

// Delete, then add: a failed delete keeps the old credential; a failed add leaves none.
Result<void> SystemCredentialStore::save(const QString &credential) const
{
    const Result<FoundItems> found = findItems(m_accessGroup, m_unlockPrompt);
    if (!found)
        return failure(found.error());
    if (const Result<void> deleted = found->session.deleteAll(found->items); !deleted)
        return deleted;
    return found->session.add(credential.toUtf8());
}

// A value that is not UTF-8 is reported, and the item is left for the user or a new save to replace.
Result<std::optional<QString>> SystemCredentialStore::read() const
{
    const Result<FoundItems> found = findItems(m_accessGroup, m_unlockPrompt);
    if (!found)
        return failure(found.error());
    if (found->items.empty())
        return std::nullopt;
    const Result<std::optional<QByteArray>> secret = found->session.secretOf(found->items.front());
    if (!secret)
        return failure(secret.error());
    const std::optional<QString> text = *secret ? decodeUtf8(**secret) : std::nullopt;
    if (!text)
        return failure(KeychainError::invalidData().toError());
    return text;
}

Result<bool> SystemCredentialStore::hasCredential() const
{
    const Result<FoundItems> found = findItems(m_accessGroup, m_unlockPrompt);
    if (!found)
        return failure(found.error());
    return !found->items.empty();
}

Result<void> SystemCredentialStore::remove() const
{
    const Result<FoundItems> found = findItems(m_accessGroup, m_unlockPrompt);
    if (!found)
        return failure(found.error());
    return found->session.deleteAll(found->items);
}
