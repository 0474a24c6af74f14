import QtQuick
import Tarnwick
import QtQuick.Controls
import QtQuick.Layouts
import Tarnwick.Style as Style

ColumnLayout {
    id: screen
    objectName: "readyScreen"
    readonly property int status: AppModel.readyStatus
    readonly property bool offline: AppModel.networkAvailable === false

    spacing: 18

    RowLayout {
        objectName: "statusArea"
        spacing: 16
        Layout.fillWidth: true

        ColumnLayout {
            spacing: 10
            Layout.fillWidth: true
            Layout.alignment: Qt.AlignTop // qmllint disable type
            Style.StatusHeader {
                objectName: "statusHeader"
                Layout.fillWidth: true
                title: {
                    switch (screen.status) {
                    case AppModel.CheckingConnection: return "Checking connection…"
                    case AppModel.Offline: return "Offline"
                    case AppModel.ReadyForCalls: return "Ready for calls"
                    case AppModel.GettingReady: return "Getting ready…"
                    default: return "Couldn't start"
                    }
                }
                detail: {
                    switch (screen.status) {
                    case AppModel.CheckingConnection: return "Checking whether this Mac can take calls."
                    case AppModel.Offline: return "Connect to the internet to take calls."
                    case AppModel.ReadyForCalls: return undefined
                    case AppModel.GettingReady: return "Available in a moment."
                    default: return "Quit and reopen Tarnwick."
                    }
                }
            }
            TextEdit {
                objectName: "phoneNumber"
                visible: screen.status === AppModel.ReadyForCalls
                readOnly: true
                selectByMouse: true
                text: "+1 (555) 010-0199"
                color: Style.Palette.ink
                selectionColor: Style.Palette.faint
                font.pixelSize: 25
                font.weight: Font.DemiBold
            }
        }
        Style.Symbol {
            objectName: "offlineSymbol"
            visible: screen.status === AppModel.Offline
            name: "wifi.slash"
            color: Style.Palette.faint
            Layout.preferredWidth: 28
            Layout.preferredHeight: 28
            Layout.alignment: Qt.AlignTop // qmllint disable type
        }
    }

    Style.PrimaryButton {
        objectName: "viewAllTasksButton"
        text: "View All Tasks"
        enabled: !screen.offline
        onClicked: Desktop.openDashboard()
    }

    RowLayout {
        visible: AppModel.selectedFolders.length > 0
        spacing: 10
        Layout.fillWidth: true
        Text {
            objectName: "folderSummary"
            text: AppModel.folderSummary
            color: Style.Palette.soft
            font.pixelSize: Style.Fonts.caption
            elide: Text.ElideRight
            Layout.maximumWidth: 280
        }
        Style.SecondaryButton {
            objectName: "changeFoldersButton"
            compact: true
            text: "Change…"
            enabled: !AppModel.choosingFolders
            onClicked: AppModel.changeFolders()
        }
    }

    Style.PrimaryButton {
        objectName: "enableLoginItemsButton"
        visible: AppModel.recoveryAction === AppModel.EnableInSystemSettings
        text: "Enable in Login Items"
        onClicked: Desktop.openLoginItemsSettings()
    }

    AbstractButton {
        id: logOut
        objectName: "logOutButton"
        text: "Log Out"
        enabled: !AppModel.busy
        hoverEnabled: true
        onClicked: AppModel.logOut()
        contentItem: Text {
            text: logOut.text
            color: Style.Palette.rust
            opacity: logOut.enabled ? (logOut.down ? 0.6 : 1.0) : 0.4
            font.pixelSize: Style.Fonts.callout
        }
    }
}
