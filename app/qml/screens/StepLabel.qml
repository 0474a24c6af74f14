import QtQuick
import Tarnwick.Style as Style

// "STEP 1 OF 3" and the folder box's header: small monospaced capitals.
Text {
    color: Style.Palette.faint
    font.family: Style.Fonts.monospace
    font.pixelSize: 10
    font.weight: Font.Medium
    font.letterSpacing: 1.0
}
