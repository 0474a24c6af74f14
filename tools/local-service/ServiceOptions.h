#pragma once

#include <QCoreApplication>
#include <QString>

#include <chrono>
#include <expected>
#include <optional>

// What the service was started with.
struct ServiceOptions
{
    quint16 port = 8787;
    bool approveImmediately = false;
    std::optional<QString> activityFile;
    // How long a connection code may wait for its exchange; shortened only by tests.
    std::chrono::seconds codeLifetime{5 * 60};

    // Reads the command line. --help and --version print their text and end the program here, as with
    // every command-line program; a bad value is answered as a sentence.
    static std::expected<ServiceOptions, QString> parse(const QCoreApplication &application);

    friend bool operator==(const ServiceOptions &, const ServiceOptions &) = default;
};
