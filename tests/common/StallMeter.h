#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

// The longest time this thread's event loop went without turning while the meter lived, measured with
// a 10 ms timer: what a person would see as a frozen window.
class StallMeter : public QObject
{
    Q_OBJECT
public:
    StallMeter();

    qint64 longestStallMs() const;
    // When the longest stall began, in milliseconds since the meter started.
    qint64 longestStallBeganMs() const { return m_longestBegan; }

private:
    QElapsedTimer m_clock;
    QTimer m_tick;
    qint64 m_lastTurn = 0;
    qint64 m_longest = 0;
    qint64 m_longestBegan = 0;
};
