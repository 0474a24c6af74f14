import Tarnwick.Style as Style

// The main action of a screen: white text on ink.
Style.StyledButton {
    id: control
    textColor: "white"
    fillColor: Style.Palette.ink
    fillOpacity: !enabled ? 0.32 : down ? 0.76 : hovered ? 0.88 : 1.0
    shadowOpacityPressed: 0.06
    shadowOpacityHovered: 0.18
    shadowOpacityResting: 0.11
}
