#pragma once

#include "common/Error.h"

#include <QJsonObject>
#include <QString>

#include <optional>

// Where the coding agents' executables were found. Presence alone counts: an empty path that is present
// still means the agent was found.
struct ProviderPaths
{
    std::optional<QString> codex;
    std::optional<QString> claudeCode;

    bool hasProvider() const;

    // Only present paths become members; absent ones are left out, never written as null.
    QJsonObject toJson() const;
    // A missing member or null gives an absent path; any other non-string value fails the whole read.
    // `path` names the object in error texts (e.g. "providerPaths").
    static Result<ProviderPaths> fromJson(const QJsonValue &value, const QString &path = {});

    friend bool operator==(const ProviderPaths &, const ProviderPaths &) = default;
};
