import QtQuick
import Tarnwick.Style as Style
import QtQuick.Layouts

// A large title with an optional detail line under it.
ColumnLayout {
    id: header
    property string title
    property var detail: undefined
    property color color: Style.Palette.ink

    spacing: 7

    Text {
        objectName: "statusTitle"
        text: header.title
        color: header.color
        font.family: Style.Fonts.serif
        font.pixelSize: 28
        font.weight: Font.Medium
        Layout.fillWidth: true
        wrapMode: Text.Wrap
    }
    Text {
        objectName: "statusDetail"
        visible: header.detail !== undefined && header.detail !== null
        text: visible ? header.detail : ""
        color: Style.Palette.soft
        font.pixelSize: 15
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
}
