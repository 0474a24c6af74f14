#pragma once

#include <QString>

#include <expected>

// Why the service turns a request down: the HTTP status to answer with and a sentence fit to show a person.
struct Refusal
{
    int status = 400;
    QString message;

    friend bool operator==(const Refusal &, const Refusal &) = default;
};

template<typename T>
using Checked = std::expected<T, Refusal>;

inline std::unexpected<Refusal> refuse(int status, QString message)
{
    return std::unexpected<Refusal>(Refusal{status, std::move(message)});
}
