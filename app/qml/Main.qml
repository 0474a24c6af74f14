import QtQuick
import Tarnwick

// The one window, as wide as its content and as tall as the content needs (at least 300).
Window {
    id: window
    title: "Tarnwick"
    color: content.color
    width: 440
    height: content.implicitHeight
    minimumWidth: 440
    maximumWidth: 440
    minimumHeight: content.implicitHeight

    onVisibleChanged: if (visible) AppModel.windowShown()

    // Closing the window leaves the program running; the usual shortcut ends it (Ctrl+Q, the desktops'
    // Quit key).
    Shortcut {
        sequence: "Ctrl+Q"
        onActivated: Qt.quit()
    }

    ContentView {
        id: content
        anchors.fill: parent
    }
}
