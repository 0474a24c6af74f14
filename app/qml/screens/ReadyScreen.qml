import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import "../style" as Style

ColumnLayout {
    id: screen
    objectName: "readyScreen"
    readonly property string status: appModel.readyStatus
    readonly property bool offline: appModel.networkAvailable === false

    spacing: 18

    RowLayout {
        objectName: "statusArea"
        spacing: 16
        Layout.fillWidth: true

        ColumnLayout {
            spacing: 10
            Layout.fillWidth: true
            Layout.alignment: Qt.AlignTop
            Style.StatusHeader {
                objectName: "statusHeader"
                Layout.fillWidth: true
                title: ({
                    checkingConnection: "Checking connection…",
                    offline: "Offline",
                    readyForCalls: "Ready for calls",
                    gettingReady: "Getting ready…",
                    couldNotStart: "Couldn't start"
                })[screen.status]
                detail: ({
                    checkingConnection: "Checking whether this Mac can take calls.",
                    offline: "Connect to the internet to take calls.",
                    readyForCalls: undefined,
                    gettingReady: "Available in a moment.",
                    couldNotStart: "Quit and reopen Tarnwick."
                })[screen.status]
            }
            TextEdit {
                objectName: "phoneNumber"
                visible: screen.status === "readyForCalls"
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
            visible: screen.status === "offline"
            name: "wifi.slash"
            color: Style.Palette.faint
            Layout.preferredWidth: 28
            Layout.preferredHeight: 28
            Layout.alignment: Qt.AlignTop
        }
    }

    Style.PrimaryButton {
        objectName: "viewAllTasksButton"
        text: "View All Tasks"
        enabled: !screen.offline
        onClicked: desktop.openDashboard()
    }

    RowLayout {
        visible: appModel.selectedFolders.length > 0
        spacing: 10
        Layout.fillWidth: true
        Text {
            objectName: "folderSummary"
            text: appModel.folderSummary
            color: Style.Palette.soft
            font.pixelSize: Style.Fonts.caption
            elide: Text.ElideRight
            Layout.maximumWidth: 280
        }
        Style.SecondaryButton {
            objectName: "changeFoldersButton"
            compact: true
            text: "Change…"
            enabled: !appModel.choosingFolders
            onClicked: appModel.changeFolders()
        }
    }

    Style.PrimaryButton {
        objectName: "enableLoginItemsButton"
        visible: appModel.recoveryAction === "enableInSystemSettings"
        text: "Enable in Login Items"
        onClicked: desktop.openLoginItemsSettings()
    }

    AbstractButton {
        id: logOut
        objectName: "logOutButton"
        text: "Log Out"
        enabled: !appModel.busy
        hoverEnabled: true
        onClicked: appModel.logOut()
        contentItem: Text {
            text: logOut.text
            color: Style.Palette.rust
            opacity: logOut.enabled ? (logOut.down ? 0.6 : 1.0) : 0.4
            font.pixelSize: Style.Fonts.callout
        }
    }
}
