#pragma once

#include <QString>

#include <expected>

// One failure as it travels between layers: the family it comes from, its number there, and a text a
// person can read. The fixed error enumerations convert into it; the platform's file and decoder errors
// arrive with their own text.
struct Error
{
    QString domain;
    int code = 0;
    QString description;

    // errno from a failed system call, with the path or operation it concerned in front of strerror's text.
    static Error posix(int errorNumber, const QString &context);

    friend bool operator==(const Error &, const Error &) = default;
};

template<typename T>
using Result = std::expected<T, Error>;

inline std::unexpected<Error> failure(Error error)
{
    return std::unexpected<Error>(std::move(error));
}
