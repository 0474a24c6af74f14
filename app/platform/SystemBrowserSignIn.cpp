#include "SystemBrowserSignIn.h"

#include "common/UrlLauncher.h"
#include "model/SignInError.h"

bool SystemBrowserSignIn::start(const QUrl &page, const QString &callbackScheme, Completion completion,
                                BrowserFailure browserFailed)
{
    const quint64 attempt = ++*m_attempt;
    m_scheme = callbackScheme;
    m_completion = std::move(completion);
    UrlLauncher::open(page, [current = std::weak_ptr(m_attempt), attempt, browserFailed](const Error &error) {
        if (const std::shared_ptr<quint64> open = current.lock(); open && *open == attempt)
            browserFailed(error);
    });
    return true;
}

void SystemBrowserSignIn::cancel()
{
    if (m_completion)
        finish(failure(SignInError::canceledLogin()));
}

bool SystemBrowserSignIn::isOpen() const
{
    return bool(m_completion);
}

bool SystemBrowserSignIn::acceptCallback(const QUrl &url)
{
    if (!m_completion || url.scheme().compare(m_scheme, Qt::CaseInsensitive) != 0)
        return false;
    finish(url);
    return true;
}

void SystemBrowserSignIn::finish(Result<QUrl> outcome)
{
    // Cleared before the call: the completion may start the next sign-in.
    ++*m_attempt;
    Completion completion = std::exchange(m_completion, nullptr);
    completion(std::move(outcome));
}
