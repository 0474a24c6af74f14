import QtQuick
import Tarnwick
import QtQuick.Layouts
import Tarnwick.Style as Style

ColumnLayout {
    id: screen
    objectName: "providersScreen"
    readonly property var readiness: AppModel.providerReadiness
    readonly property bool hasReadiness: readiness !== undefined && readiness !== null

    spacing: 14

    StepLabel { text: "STEP 2 OF 3" }
    ScreenTitle { text: "Coding agent" }

    RowLayout {
        objectName: "checkingTools"
        visible: !screen.hasReadiness
        spacing: 10
        Style.ActivityIndicator {
            Layout.preferredWidth: 16
            Layout.preferredHeight: 16
        }
        Text {
            text: "Checking installed tools…"
            color: Style.Palette.soft
            font.pixelSize: Style.Fonts.body
        }
    }
    ColumnLayout {
        visible: screen.hasReadiness
        spacing: 8
        SymbolLabel {
            objectName: "codexLabel"
            readonly property bool ready: screen.hasReadiness && screen.readiness.codexReady
            text: ready ? "Codex" : "Codex unavailable"
            symbol: ready ? "checkmark.circle.fill" : "circle"
        }
        SymbolLabel {
            objectName: "claudeCodeLabel"
            readonly property bool ready: screen.hasReadiness && screen.readiness.claudeCodeReady
            text: ready ? "Claude Code" : "Claude Code unavailable"
            symbol: ready ? "checkmark.circle.fill" : "circle"
        }
        Repeater {
            objectName: "providerMessages"
            model: screen.hasReadiness ? screen.readiness.messages : []
            Text {
                required property string modelData
                text: modelData
                color: Style.Palette.soft
                font.pixelSize: Style.Fonts.caption
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }
        }
    }
    RowLayout {
        spacing: 8
        Layout.fillWidth: true
        Style.SecondaryButton {
            objectName: "checkAgainButton"
            text: "Check Again"
            enabled: !AppModel.busy
            onClicked: AppModel.checkProviders()
        }
        Style.PrimaryButton {
            objectName: "continueButton"
            text: "Continue"
            enabled: screen.hasReadiness && screen.readiness.hasProvider
            onClicked: AppModel.continueFromProviders()
        }
        Item { Layout.fillWidth: true }
    }
}
