import QtQuick
import QtQuick.Layouts
import "style" as Style

// The window's content: the brand row, the screen for the current step, and the error line.
Rectangle {
    id: view
    objectName: "contentView"
    readonly property string step: appModel.step
    readonly property bool readyScreen: step === "connected" || step === "needsAttention"

    color: Style.Palette.paper
    implicitWidth: 440
    implicitHeight: Math.max(300, stack.implicitHeight + 64)

    ColumnLayout {
        id: stack
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.margins: 32
        spacing: 24

        RowLayout {
            objectName: "brandRow"
            spacing: 9
            Style.BrandMarkView {
                color: Style.Palette.soft
                Layout.preferredWidth: 18
                Layout.preferredHeight: 18
            }
            Text {
                text: "TARNWICK"
                color: Style.Palette.soft
                font.family: Style.Fonts.monospace
                font.pixelSize: 10
                font.weight: Font.Medium
                font.letterSpacing: 1.2
            }
        }

        // A screen's file, and what it imports, is loaded only when its step is shown.
        Loader {
            objectName: "screenLoader"
            Layout.fillWidth: true
            source: view.step === "connect" ? "screens/ConnectScreen.qml"
                  : view.step === "providers" ? "screens/ProvidersScreen.qml"
                  : view.step === "folders" ? "screens/FoldersScreen.qml"
                  : "screens/ReadyScreen.qml"
        }

        Text {
            objectName: "errorLine"
            visible: !view.readyScreen && appModel.errorMessage !== undefined && appModel.errorMessage !== null
            text: visible ? appModel.errorMessage : ""
            color: Style.Palette.rust
            font.pixelSize: Style.Fonts.callout
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
    }
}
