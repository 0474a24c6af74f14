#pragma once

#include "TarnwickApp.h"
#include "common/HelperInstanceLock.h"
#include "model/AppModel.h"
#include "platform/AutostartEntry.h"
#include "platform/InstanceMessage.h"
#include "platform/SingleInstance.h"
#include "platform/SystemBrowserSignIn.h"
#include "platform/SystemLoginItemManager.h"

#include <QDir>

// The setup application as the program puts it together, but talking to `service` and registering this
// build's helper: the model, and the running instance that takes the tarnwick: links a second start of the
// program hands over. Only the folder chooser is the test's: it picks "My Projects" in the home folder.
class SystemSetup
{
public:
    explicit SystemSetup(const QUrl &service)
        : m_model(parts(service))
    {
        QObject::connect(&m_instance, &SingleInstance::messageReceived, &m_model, [this](const QString &line) {
            m_signIn->acceptCallback(QUrl(InstanceMessage::decoded(line).url));
        });
    }

    static QString chosenFolder() { return QDir::home().filePath(QStringLiteral("My Projects")); }
    static QString autostartEntry() { return AutostartEntry::path(QStringLiteral("com.tarnwick.mac.helper")); }

    AppModel &model() { return m_model; }
    // Becomes the running instance; false when another one is.
    bool listen() { return m_instance.listen(); }

private:
    struct ChosenFolder final : FolderChoosing
    {
        QCoro::Task<std::optional<QList<QUrl>>> chooseFolders(const QString &, const QString &) override
        {
            co_return QList<QUrl>{QUrl::fromLocalFile(chosenFolder())};
        }
    };

    AppModelParts parts(const QUrl &service)
    {
        AppModelParts parts =
            TarnwickApp::systemParts(service, std::unique_ptr<SystemBrowserSignIn>(m_signIn = new SystemBrowserSignIn));
        parts.loginItem = [] {
            return std::make_shared<SystemLoginItemManager>(
                SystemLoginItemManager::Locations{QStringLiteral(TARNWICK_HELPER_PATH), autostartEntry()},
                [] { return HelperInstanceLock::runningHelperPid().transform([](qint64 pid) { return pid_t(pid); }); });
        };
        parts.folderChooser = std::make_unique<ChosenFolder>();
        return parts;
    }

    SingleInstance m_instance{SingleInstance::defaultSocketPath()};
    SystemBrowserSignIn *m_signIn = nullptr;
    AppModel m_model;
};
