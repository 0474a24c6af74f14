import QtQuick
import QtQuick.Layouts
import Tarnwick
import Tarnwick.Style as Style

// The window's content: the brand row, the screen for the current step, and the error line.
Rectangle {
    id: view
    objectName: "contentView"
    readonly property int step: AppModel.step
    readonly property bool readyScreen: step === AppModel.Connected || step === AppModel.NeedsAttention

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
            source: view.step === AppModel.Connect ? "screens/ConnectScreen.qml"
                  : view.step === AppModel.Providers ? "screens/ProvidersScreen.qml"
                  : view.step === AppModel.Folders ? "screens/FoldersScreen.qml"
                  : "screens/ReadyScreen.qml"
        }

        Text {
            objectName: "errorLine"
            visible: !view.readyScreen && AppModel.errorMessage !== undefined && AppModel.errorMessage !== null
            text: visible ? AppModel.errorMessage : ""
            color: Style.Palette.rust
            font.pixelSize: Style.Fonts.callout
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
    }
}
