import QtQuick
import QtQuick.Layouts
import "../style" as Style

ColumnLayout {
    objectName: "connectScreen"
    spacing: 16

    StepLabel { text: "STEP 1 OF 3" }
    ScreenTitle { text: "Connect this Mac" }

    RowLayout {
        visible: appModel.busy
        spacing: 10
        Style.ActivityIndicator {
            objectName: "openingSignIn"
            Layout.preferredWidth: 16
            Layout.preferredHeight: 16
        }
        Text {
            text: "Opening sign in…"
            color: Style.Palette.soft
            font.pixelSize: Style.Fonts.body
        }
        Item { Layout.preferredWidth: 6 }
        // A browser tab has no cancel button of its own.
        Style.SecondaryButton {
            objectName: "cancelSignInButton"
            visible: appModel.signInOpen
            compact: true
            text: "Cancel"
            onClicked: appModel.cancelSignIn()
        }
    }
    Style.PrimaryButton {
        objectName: "signInButton"
        visible: !appModel.busy
        text: "Sign In"
        onClicked: appModel.signIn()
    }
}
