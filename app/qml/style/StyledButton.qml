import QtQuick
import QtQuick.Templates as T
import Qt5Compat.GraphicalEffects

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
    // Layer effects need a GPU scene graph; the software one draws a plain offset shape instead.
    readonly property bool blurredShadow: GraphicsInfo.api !== GraphicsInfo.Software

    hoverEnabled: true
    horizontalPadding: 18
    verticalPadding: 10
    implicitWidth: implicitContentWidth + leftPadding + rightPadding
    implicitHeight: implicitContentHeight + topPadding + bottomPadding

    property real animatedPressScale: pressScale
    property real animatedHoverScale: hoverScale
    property real animatedShadowOpacity: shadowOpacity
    property real pressOffset: down ? 1 : 0
    Behavior on animatedPressScale { NumberAnimation { duration: 220; easing.type: Easing.OutBack; easing.overshoot: 0.6 } }
    Behavior on pressOffset { NumberAnimation { duration: 220; easing.type: Easing.OutBack; easing.overshoot: 0.6 } }
    Behavior on animatedHoverScale { NumberAnimation { duration: 120; easing.type: Easing.OutQuad } }
    Behavior on animatedShadowOpacity { NumberAnimation { duration: 120; easing.type: Easing.OutQuad } }

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

    background: Item {
        implicitWidth: 10
        implicitHeight: 10

        Rectangle {
            id: softShadow
            visible: !control.blurredShadow
            anchors.fill: shape
            anchors.topMargin: control.down ? 1 : 2
            anchors.bottomMargin: control.down ? -1 : -2
            radius: 8
            color: Qt.rgba(0, 0, 0, control.animatedShadowOpacity)
        }
        DropShadow {
            visible: control.blurredShadow
            anchors.fill: shape
            source: shape
            horizontalOffset: 0
            verticalOffset: control.down ? 1 : 2
            radius: control.down ? 1 : 3
            samples: 2 * radius + 1
            color: Qt.rgba(0, 0, 0, control.animatedShadowOpacity)
            transparentBorder: true
        }
        Rectangle {
            id: shape
            anchors.fill: parent
            radius: 8
            color: Qt.rgba(control.fillColor.r, control.fillColor.g, control.fillColor.b, control.fillOpacity)
            border.width: control.borderOpacity > 0 ? 1 : 0
            border.color: Qt.rgba(0, 0, 0, control.borderOpacity)
        }
    }
}
