#include "WindowActivation.h"

#include <QGuiApplication>
#include <QRegularExpression>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstring>

namespace {

xcb_atom_t atom(xcb_connection_t *connection, const char *name)
{
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t found = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return found;
}

xcb_window_t rootOf(xcb_connection_t *connection, xcb_window_t window)
{
    xcb_query_tree_reply_t *reply = xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr);
    const xcb_window_t root = reply ? reply->root : xcb_window_t(XCB_WINDOW_NONE);
    std::free(reply);
    return root;
}

// Ends the launch's feedback (the busy cursor) as the startup-notification protocol says: "remove" for
// the id, in 20-byte client messages to the root window.
void sendStartupRemove(xcb_connection_t *connection, xcb_window_t window, xcb_window_t root,
                       const QByteArray &startupId)
{
    QByteArray escaped = startupId;
    escaped.replace('\\', "\\\\").replace('"', "\\\"");
    const QByteArray text = "remove: ID=\"" + escaped + "\"" + QByteArray(1, '\0');
    const xcb_atom_t begin = atom(connection, "_NET_STARTUP_INFO_BEGIN");
    const xcb_atom_t more = atom(connection, "_NET_STARTUP_INFO");
    for (qsizetype offset = 0; offset < text.size(); offset += 20) {
        xcb_client_message_event_t event = {};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 8;
        event.window = window;
        event.type = offset == 0 ? begin : more;
        std::memcpy(event.data.data8, text.constData() + offset, std::min<qsizetype>(20, text.size() - offset));
        xcb_send_event(connection, 0, root, XCB_EVENT_MASK_PROPERTY_CHANGE, reinterpret_cast<const char *>(&event));
    }
}

// The window manager lets the window up when the request carries the time of the user's action, and
// ties the window to the launch through _NET_STARTUP_ID.
void activateOnX11(QWindow *window, const QByteArray &startupId)
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return;
    const auto id = xcb_window_t(window->winId());
    const xcb_window_t root = rootOf(connection, id);
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, atom(connection, "_NET_STARTUP_ID"),
                        atom(connection, "UTF8_STRING"), 8, startupId.size(), startupId.constData());
    if (const std::optional<quint32> time = WindowActivation::startupTime(startupId)) {
        xcb_client_message_event_t event = {};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = id;
        event.type = atom(connection, "_NET_ACTIVE_WINDOW");
        event.data.data32[0] = 1; // from an application
        event.data.data32[1] = *time;
        xcb_send_event(connection, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                       reinterpret_cast<const char *>(&event));
    }
    sendStartupRemove(connection, id, root, startupId);
    xcb_flush(connection);
}

} // namespace

namespace WindowActivation {

void activate(QWindow *window, const InstanceMessage &message)
{
    const QString platform = QGuiApplication::platformName();
    // Qt's Wayland shell integration hands this variable's token to xdg-activation at the next request,
    // and clears it.
    if (platform == u"wayland" && !message.xdgActivationToken.isEmpty())
        qputenv("XDG_ACTIVATION_TOKEN", message.xdgActivationToken);
    if (platform == u"xcb" && !message.desktopStartupId.isEmpty())
        activateOnX11(window, message.desktopStartupId);
    window->requestActivate();
}

std::optional<quint32> startupTime(const QByteArray &startupId)
{
    static const QRegularExpression time(QStringLiteral("_TIME([0-9]+)$"));
    const QRegularExpressionMatch match = time.match(QString::fromUtf8(startupId));
    bool ok = false;
    const quint32 value = match.hasMatch() ? match.captured(1).toUInt(&ok) : 0;
    return ok ? std::optional(value) : std::nullopt;
}

} // namespace WindowActivation
