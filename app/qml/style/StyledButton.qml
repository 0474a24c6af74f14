import QtQuick
import QtQuick.Templates as T
import Tarnwick.Style as Style

// What both button styles share: the label, the rounded fill, the shadow, and the scale and offset on
// press and hover. A change of the pressed state settles like a spring; a change of hover eases out.
T.Button {
    id: control

    property color textColor
    property color fillColor
    property real fillOpacity: 1.0
    property real borderOpacity: 0
    property real shadowOpacityPressed
    property real shadowOpacityHovered
    property real shadowOpacityResting

    readonly property bool hoverShown: hovered
    readonly property real pressScale: down ? 0.97 : 1.0
    readonly property real hoverScale: !down && hovered && enabled ? 1.01 : 1.0
    readonly property real shadowOpacity: down ? shadowOpacityPressed : hovered ? shadowOpacityHovered : shadowOpacityResting

    hoverEnabled: true
    horizontalPadding: 18
    verticalPadding: 10
    implicitWidth: implicitContentWidth + leftPadding + rightPadding
    implicitHeight: implicitContentHeight + topPadding + bottomPadding

    property real animatedPressScale: pressScale
    property real animatedHoverScale: hoverScale
    property real animatedShadowOpacity: shadowOpacity
    property real pressOffset: down ? 1 : 0
    // Qt 6.4's qmllint knows no easing curve.
    // qmllint disable
    Behavior on animatedPressScale { NumberAnimation { duration: 220; easing.type: Easing.OutBack; easing.overshoot: 0.6 } }
    Behavior on pressOffset { NumberAnimation { duration: 220; easing.type: Easing.OutBack; easing.overshoot: 0.6 } }
    Behavior on animatedHoverScale { NumberAnimation { duration: 120; easing.type: Easing.OutQuad } }
    Behavior on animatedShadowOpacity { NumberAnimation { duration: 120; easing.type: Easing.OutQuad } }
    // qmllint enable

    transform: [
        Scale {
            origin.x: control.width / 2
            origin.y: control.height / 2
            xScale: control.animatedPressScale * control.animatedHoverScale
            yScale: xScale
        },
        Translate { y: control.pressOffset }
    ]

    contentItem: Text {
        text: control.text
        color: control.textColor
        font.pixelSize: 14
        font.weight: Font.Medium
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }

    background: Rectangle {
        implicitWidth: 10
        implicitHeight: 10
        radius: 8
        color: Qt.rgba(control.fillColor.r, control.fillColor.g, control.fillColor.b, control.fillOpacity)
        border.width: control.borderOpacity > 0 ? 1 : 0
        border.color: Qt.rgba(0, 0, 0, control.borderOpacity)

        // The shadow is cast by what the button draws, so a translucent fill casts a fainter one; it lies
        // around the shape, never under it (see ShadowItem).
        Style.Shadow {
            z: -1
            anchors.fill: parent
            anchors.margins: -7
            blur: control.down ? 1 : 3
            offset: control.down ? 1 : 2
            opacity: control.animatedShadowOpacity * control.fillOpacity
        }
    }
}
