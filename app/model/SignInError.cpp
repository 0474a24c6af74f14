#include "SignInError.h"

namespace {
const QString domain = QStringLiteral("TarnwickSignIn");
}

namespace SignInError {

Error canceledLogin()
{
    return Error{domain, canceledLoginCode, QStringLiteral("The sign-in was canceled.")};
}

bool isCanceledLogin(const Error &error)
{
    return error.domain == domain && error.code == canceledLoginCode;
}

} // namespace SignInError
