#pragma once

#include <QCoroTask>

#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

// Lets the user pick directories. Answers the chosen folders in the order given, or nothing when the
// user cancels.
class FolderChoosing
{
public:
    virtual ~FolderChoosing() = default;
    virtual QCoro::Task<std::optional<QList<QUrl>>> chooseFolders(const QString &title, const QString &acceptLabel) = 0;
};
