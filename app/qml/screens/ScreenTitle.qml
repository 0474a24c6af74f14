import QtQuick
import QtQuick.Layouts
import Tarnwick.Style as Style

Text {
    color: Style.Palette.ink
    font.family: Style.Fonts.serif
    font.pixelSize: 25
    font.weight: Font.Medium
    wrapMode: Text.Wrap
    Layout.fillWidth: true
}
