import QtQuick
import Tarnwick.Style as Style

// A small spinning ring shown while something is under way.
Style.Symbol {
    id: indicator
    property bool running: visible

    name: "activity"
    color: Style.Palette.soft
    implicitWidth: 16
    implicitHeight: 16

    RotationAnimator on rotation {
        running: indicator.running
        from: 0
        to: 360
        duration: 900
        loops: Animation.Infinite
    }
}
