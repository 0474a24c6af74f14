#pragma once

#include "model/FolderChoosing.h"

#include <QCoroTimer>

// The folder chooser: answers `answer` (nothing: the user cancels) once the event loop has run, as a
// real dialog does.
class ScriptedFolderChooser final : public FolderChoosing
{
public:
    QCoro::Task<std::optional<QList<QUrl>>> chooseFolders(const QString &, const QString &) override
    {
        co_await QCoro::sleepFor(std::chrono::milliseconds(1));
        co_return answer;
    }

    std::optional<QList<QUrl>> answer;
};
