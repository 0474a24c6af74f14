import QtQuick
import QtQuick.Layouts
import "../style" as Style

ColumnLayout {
    objectName: "connectScreen"
    readonly property bool waiting: appModel.busy && !appModel.browserUnavailable
    readonly property bool stranded: appModel.busy && appModel.browserUnavailable

    spacing: 16

    StepLabel { text: "STEP 1 OF 3" }
    ScreenTitle { text: "Connect this Mac" }

    // The stored setup is still being read: the keyring may be asking to be unlocked.
    Style.ActivityIndicator {
        objectName: "restoringSetup"
        visible: appModel.restoring && !appModel.busy
        Layout.preferredWidth: 16
        Layout.preferredHeight: 16
    }

    RowLayout {
        visible: waiting
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
        // For a browser other than the one that opened.
        Style.SecondaryButton {
            objectName: "copyLinkButton"
            visible: appModel.signInLink !== ""
            compact: true
            text: "Copy Link"
            onClicked: desktop.copyToClipboard(appModel.signInLink)
        }
    }

    // No browser took the page: the user opens the link by hand while the sign-in keeps waiting.
    ColumnLayout {
        objectName: "browserUnavailable"
        visible: stranded
        spacing: 8
        Layout.fillWidth: true
        Text {
            objectName: "browserUnavailableTitle"
            text: "Couldn’t open a browser"
            color: Style.Palette.ink
            font.pixelSize: Style.Fonts.body
            font.weight: Font.Medium
        }
        Text {
            objectName: "browserUnavailableDetail"
            text: "Copy the link, open it in a browser and sign in there. Tarnwick keeps waiting."
            color: Style.Palette.soft
            font.pixelSize: Style.Fonts.body
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
        RowLayout {
            spacing: 10
            Layout.topMargin: 6
            Style.PrimaryButton {
                objectName: "copyLinkButton"
                text: "Copy Link"
                onClicked: desktop.copyToClipboard(appModel.signInLink)
            }
            Style.SecondaryButton {
                objectName: "cancelSignInButton"
                visible: appModel.signInOpen
                text: "Cancel"
                onClicked: appModel.cancelSignIn()
            }
        }
    }

    Style.PrimaryButton {
        objectName: "signInButton"
        visible: !appModel.busy && !appModel.restoring
        text: "Sign In"
        onClicked: appModel.signIn()
    }
}
