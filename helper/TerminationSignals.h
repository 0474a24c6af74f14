#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a signal on the main thread. The handler only writes the signal's
// number into a pipe (the one thing a handler may safely do); a notifier on the other end emits
// `terminationRequested` from the event loop. Only one instance may exist at a time. Should the pipe not
// be made, the signals keep their default actions.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

Q_SIGNALS:
    void terminationRequested(int signalNumber);

private:
    void readPendingSignals();

    QSocketNotifier *m_notifier = nullptr;
};
