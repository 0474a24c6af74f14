#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a signal on the main thread. The handler only writes the signal's
// number into a pipe (the one thing a handler may safely do); a notifier on the other end emits
// `terminationRequested` from the event loop. Only one instance may exist at a time.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

    // False when the pipe or the handlers could not be set up; the default actions then stay in place.
    bool isInstalled() const { return m_notifier != nullptr; }

Q_SIGNALS:
    void terminationRequested(int signalNumber);

private:
    void readPendingSignals();

    QSocketNotifier *m_notifier = nullptr;
};
