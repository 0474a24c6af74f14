import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tarnwick
import Tarnwick.Style as Style

ColumnLayout {
    id: screen
    objectName: "foldersScreen"
    readonly property var folders: AppModel.folders

    spacing: 14

    StepLabel { text: "STEP 3 OF 3" }
    ScreenTitle { text: "Choose folders" }
    Text {
        text: "Tasks can read and change files only in folders you choose."
        color: Style.Palette.soft
        font.pixelSize: Style.Fonts.body
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }

    Style.SecondaryButton {
        objectName: "chooseFoldersButton"
        visible: screen.folders.count === 0
        text: "Choose Folders…"
        enabled: !AppModel.choosingFolders
        onClicked: AppModel.chooseFolders()
    }

    Rectangle {
        objectName: "folderBox"
        visible: screen.folders.count > 0
        Layout.fillWidth: true
        implicitHeight: box.implicitHeight + 28
        radius: 10
        color: Style.Palette.surface
        border.width: 1
        border.color: Style.Palette.line

        ColumnLayout {
            id: box
            anchors.fill: parent
            anchors.margins: 14
            spacing: 10

            RowLayout {
                Layout.fillWidth: true
                StepLabel {
                    objectName: "folderBoxHeader"
                    text: screen.folders.count === 1 ? "SELECTED FOLDER" : "SELECTED FOLDERS"
                }
                Item { Layout.fillWidth: true }
                Style.SecondaryButton {
                    objectName: "changeChosenFoldersButton"
                    compact: true
                    text: "Change…"
                    enabled: !AppModel.choosingFolders
                    onClicked: AppModel.chooseFolders()
                }
            }
            Repeater {
                objectName: "folderRows"
                model: screen.folders
                RowLayout {
                    id: folderRow
                    required property string name
                    required property string path
                    required property string displayPath
                    spacing: 9
                    Layout.fillWidth: true
                    Style.Symbol {
                        name: "checkmark.circle.fill"
                        color: Style.Palette.green
                        Layout.preferredWidth: 16
                        Layout.preferredHeight: 16
                    }
                    ColumnLayout {
                        spacing: 2
                        Layout.fillWidth: true
                        Text {
                            text: folderRow.name
                            color: Style.Palette.ink
                            font.pixelSize: Style.Fonts.callout
                            font.weight: Font.Medium
                            elide: Text.ElideMiddle
                            Layout.fillWidth: true
                        }
                        Text {
                            text: folderRow.displayPath
                            color: Style.Palette.soft
                            font.pixelSize: Style.Fonts.caption
                            elide: Text.ElideMiddle
                            Layout.fillWidth: true
                        }
                    }
                    HoverHandler { id: rowHover }
                    ToolTip.visible: rowHover.hovered
                    ToolTip.text: folderRow.path
                    ToolTip.delay: 600
                }
            }
        }
    }

    Style.PrimaryButton {
        objectName: "finishSetupButton"
        text: "Finish Setup"
        enabled: screen.folders.count > 0
        onClicked: AppModel.finishSetup()
    }
}
