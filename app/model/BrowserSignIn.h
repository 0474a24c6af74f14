#pragma once

#include "common/Error.h"

#include <QString>
#include <QUrl>

#include <functional>

// The sign-in that runs in the user's browser. The page is opened; the callback URL comes back later
// through the "tarnwick" scheme (or the user cancels), and the completion receives it exactly once.
class BrowserSignIn
{
public:
    using Completion = std::function<void(Result<QUrl>)>;
    using BrowserFailure = std::function<void(const Error &)>;

    virtual ~BrowserSignIn() = default;

    // Opens the page and answers whether the sign-in could start. When no browser takes the page,
    // `browserFailed` is called later and the sign-in keeps waiting: the user may open the page by hand.
    // A sign-in that was still open is dropped without its completion being called: only the newest
    // attempt reports.
    virtual bool start(const QUrl &page, const QString &callbackScheme, Completion completion,
                       BrowserFailure browserFailed) = 0;
    // Ends the open sign-in as a user cancellation (SignInError::canceledLogin).
    virtual void cancel() = 0;
    virtual bool isOpen() const = 0;
};
