import Tarnwick.Style as Style

// A lesser action: ink text on the surface colour with a thin border. The compact form is smaller.
Style.StyledButton {
    id: control
    property bool compact: false

    horizontalPadding: compact ? 12 : 18
    verticalPadding: compact ? 7 : 10
    textColor: Qt.rgba(Style.Palette.ink.r, Style.Palette.ink.g, Style.Palette.ink.b, enabled ? 1.0 : 0.4)
    fillColor: Style.Palette.surface
    fillOpacity: down ? 0.62 : 1.0
    borderOpacity: hovered && enabled ? 0.2 : 0.12
    shadowOpacityPressed: 0.03
    shadowOpacityHovered: 0.11
    shadowOpacityResting: 0.05
}
