import QtQuick
import Tarnwick
import QtQuick.Layouts
import Tarnwick.Style as Style

ColumnLayout {
    id: screen
    objectName: "connectScreen"
    readonly property bool waiting: AppModel.busy && !AppModel.browserUnavailable
    readonly property bool stranded: AppModel.busy && AppModel.browserUnavailable

    spacing: 16

    StepLabel { text: "STEP 1 OF 3" }
    ScreenTitle { text: "Connect this Mac" }

    // The stored setup is still being read: the keyring may be asking to be unlocked.
    Style.ActivityIndicator {
        objectName: "restoringSetup"
        visible: AppModel.restoring && !AppModel.busy
        Layout.preferredWidth: 16
        Layout.preferredHeight: 16
    }

    RowLayout {
        visible: screen.waiting
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
            visible: AppModel.signInOpen
            compact: true
            text: "Cancel"
            onClicked: AppModel.cancelSignIn()
        }
        // For a browser other than the one that opened.
        Style.SecondaryButton {
            objectName: "copyLinkButton"
            visible: AppModel.signInLink !== ""
            compact: true
            text: "Copy Link"
            onClicked: Desktop.copyToClipboard(AppModel.signInLink)
        }
    }

    // No browser took the page: the user opens the link by hand while the sign-in keeps waiting.
    ColumnLayout {
        objectName: "browserUnavailable"
        visible: screen.stranded
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
                onClicked: Desktop.copyToClipboard(AppModel.signInLink)
            }
            Style.SecondaryButton {
                objectName: "cancelSignInButton"
                visible: AppModel.signInOpen
                text: "Cancel"
                onClicked: AppModel.cancelSignIn()
            }
        }
    }

    Style.PrimaryButton {
        objectName: "signInButton"
        visible: !AppModel.busy && !AppModel.restoring
        text: "Sign In"
        onClicked: AppModel.signIn()
    }
}
