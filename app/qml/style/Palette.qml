pragma Singleton
import QtQuick

// The window's seven colours (sRGB).
QtObject {
    readonly property color paper: Qt.rgba(0.957, 0.941, 0.910, 1.0)
    readonly property color surface: Qt.rgba(0.982, 0.975, 0.957, 1.0)
    readonly property color ink: Qt.rgba(0.090, 0.090, 0.075, 1.0)
    readonly property color soft: Qt.rgba(0.38, 0.37, 0.34, 1.0)
    readonly property color faint: Qt.rgba(0.57, 0.55, 0.51, 1.0)
    readonly property color rust: Qt.rgba(0.68, 0.24, 0.18, 1.0)
    readonly property color line: Qt.rgba(0, 0, 0, 0.12)
    // The folder rows' check marks.
    readonly property color green: Qt.rgba(0.20, 0.62, 0.30, 1.0)
}
