#pragma once

#include <QProcess>
#include <QUrl>

// The real tarnwick-local-service, started on a free loopback port for one test and stopped with it.
class LocalServiceProcess
{
public:
    explicit LocalServiceProcess(const QStringList &arguments = {})
        : m_arguments(arguments)
    {
    }
    // Terminates the program, killing it when it does not end.
    ~LocalServiceProcess();

    // Starts the program and waits for the line that gives its address; false when it never comes.
    bool start();
    // http://127.0.0.1:<port>/
    QUrl baseUrl() const { return m_baseUrl; }
    // What the program wrote on standard error so far, for failure messages.
    QByteArray errors() { return m_process.readAllStandardError(); }

private:
    QStringList m_arguments;
    QProcess m_process;
    QUrl m_baseUrl;
};
