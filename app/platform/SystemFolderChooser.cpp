#include "SystemFolderChooser.h"

#include "DesktopLog.h"
#include "PortalResponse.h"

#include <QCoroDBus>
#include <QCoroSignal>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QListView>
#include <QRandomGenerator>
#include <QTreeView>

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString fileChooserInterface = QStringLiteral("org.freedesktop.portal.FileChooser");
constexpr uint firstVersionWithDirectories = 3;

bool portalOffersDirectories()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    const QDBusReply<QStringList> activatable = bus.interface()->call(QStringLiteral("ListActivatableNames"));
    const bool present = bus.interface()->isServiceRegistered(portalService).value()
                         || (activatable.isValid() && activatable.value().contains(portalService));
    if (!present)
        return false;
    QDBusMessage get = QDBusMessage::createMethodCall(
        portalService, portalPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << fileChooserInterface << QStringLiteral("version");
    const QDBusReply<QDBusVariant> version = bus.call(get, QDBus::Block, 5000);
    return version.isValid() && version.value().variant().toUInt() >= firstVersionWithDirectories;
}

QString parentWindowHandle(const QWindow *window)
{
    if (window && QGuiApplication::platformName() == QLatin1String("xcb"))
        return QStringLiteral("x11:%1").arg(window->winId(), 0, 16);
    return {};
}

// The object path the portal will give the request, so we can listen before calling.
QString requestPath(const QString &token)
{
    QString sender = QDBusConnection::sessionBus().baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

void allowSeveralFolders(QFileDialog &dialog)
{
    for (QListView *view : dialog.findChildren<QListView *>(QStringLiteral("listView")))
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    for (QTreeView *view : dialog.findChildren<QTreeView *>())
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
}

} // namespace

QCoro::Task<std::optional<QList<QUrl>>> SystemFolderChooser::chooseFolders(const QString &title,
                                                                           const QString &acceptLabel)
{
    if (portalOffersDirectories())
        co_return co_await chooseWithPortal(title, acceptLabel);
    co_return co_await chooseWithDialog(title, acceptLabel);
}

QCoro::Task<std::optional<QList<QUrl>>> SystemFolderChooser::chooseWithPortal(const QString &title,
                                                                              const QString &acceptLabel)
{
    const QString token = QStringLiteral("tarnwick%1").arg(QRandomGenerator::global()->generate());
    PortalResponse response;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.connect(portalService, requestPath(token), QStringLiteral("org.freedesktop.portal.Request"),
                QStringLiteral("Response"), &response, SLOT(receive(uint, QVariantMap)));

    QDBusMessage call =
        QDBusMessage::createMethodCall(portalService, portalPath, fileChooserInterface, QStringLiteral("OpenFile"));
    const QVariantMap options{{QStringLiteral("handle_token"), token},
                              {QStringLiteral("accept_label"), acceptLabel},
                              {QStringLiteral("modal"), true},
                              {QStringLiteral("multiple"), true},
                              {QStringLiteral("directory"), true}};
    call << parentWindowHandle(m_parent) << title << options;
    const QDBusMessage reply = co_await bus.asyncCall(call);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        qCWarning(lcDesktop).noquote() << "The desktop's folder chooser failed, showing Qt's instead:"
                                       << reply.errorName() << reply.errorMessage();
        co_return co_await chooseWithDialog(title, acceptLabel);
    }

    const auto [code, results] = co_await qCoro(&response, &PortalResponse::received);
    if (code != 0)
        co_return std::nullopt;
    QList<QUrl> folders;
    for (const QString &uri : results.value(QStringLiteral("uris")).toStringList())
        folders.append(QUrl(uri));
    co_return folders;
}

QCoro::Task<std::optional<QList<QUrl>>> SystemFolderChooser::chooseWithDialog(const QString &title,
                                                                              const QString &acceptLabel)
{
    QFileDialog dialog(nullptr, title, QDir::homePath());
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    dialog.setLabelText(QFileDialog::Accept, acceptLabel);
    dialog.setWindowModality(Qt::ApplicationModal);
    allowSeveralFolders(dialog);
    dialog.winId();
    if (m_parent)
        dialog.windowHandle()->setTransientParent(m_parent);
    dialog.open();
    const int outcome = co_await qCoro(&dialog, &QDialog::finished);
    if (outcome != QDialog::Accepted)
        co_return std::nullopt;
    co_return dialog.selectedUrls();
}
