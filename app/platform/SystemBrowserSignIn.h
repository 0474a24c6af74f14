#pragma once

#include "model/BrowserSignIn.h"

#include <memory>

// Opens the connection page in the user's browser and waits for the callback that the scheme handler
// forwards to this running instance (acceptCallback). Any program may send such a URL, so the model
// validates whatever arrives.
class SystemBrowserSignIn final : public BrowserSignIn
{
public:
    bool start(const QUrl &page, const QString &callbackScheme, Completion completion,
               BrowserFailure browserFailed) override;
    void cancel() override;
    bool isOpen() const override;

    // Hands a forwarded URL to the open sign-in; answers false (and does nothing) when none is open
    // or the URL is of another scheme.
    bool acceptCallback(const QUrl &url);

private:
    void finish(Result<QUrl> outcome);

    QString m_scheme;
    Completion m_completion;
    // The open attempt's number, moved on when it ends; a late report of an ended attempt's browser (or
    // of one that outlived this object) is dropped.
    std::shared_ptr<quint64> m_attempt = std::make_shared<quint64>(0);
};
