#pragma once

#include "model/BrowserSignIn.h"
#include "model/SignInError.h"

#include <QList>

// The browser: records the pages it opens and stays open until the test finishes it with a callback
// URL or an error, or reports that no browser opened.
class ScriptedSignIn final : public BrowserSignIn
{
public:
    bool start(const QUrl &page, const QString &, Completion completion, BrowserFailure browserFailed) override
    {
        openedPages.append(page);
        pending = std::move(completion);
        failBrowser = std::move(browserFailed);
        return true;
    }
    void cancel() override
    {
        if (pending)
            finish(failure(SignInError::canceledLogin()));
    }
    bool isOpen() const override { return bool(pending); }
    void finish(Result<QUrl> outcome) { std::exchange(pending, nullptr)(std::move(outcome)); }

    QList<QUrl> openedPages;
    Completion pending;
    BrowserFailure failBrowser; // the browser of the open sign-in reports that it could not open
};
