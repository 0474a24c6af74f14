import QtQuick
import QtQuick.Layouts
import Tarnwick.Style as Style

// A symbol followed by a line of text.
RowLayout {
    property alias text: label.text
    property alias symbol: icon.name
    property alias symbolColor: icon.color

    spacing: 7
    Style.Symbol {
        id: icon
        color: Style.Palette.ink
        Layout.preferredWidth: 15
        Layout.preferredHeight: 15
    }
    Text {
        id: label
        color: Style.Palette.ink
        font.pixelSize: Style.Fonts.body
    }
}
