import QtQuick
import Tarnwick.Symbols

// A named symbol drawn in one colour at the item's size.
SymbolItem {
}
