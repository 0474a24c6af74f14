pragma Singleton
import QtQml

// Families and sizes shared by the screens. Serif and monospaced designs map to the desktop's "serif" and
// "monospace" families; the rounded design to the default sans family.
QtObject {
    readonly property string serif: "serif"
    readonly property string monospace: "monospace"
    readonly property int body: 13
    readonly property int callout: 12
    readonly property int caption: 11
}
