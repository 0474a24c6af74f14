#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

// The longest time this thread's event loop went without turning while the meter lived, measured with
// a 10 ms timer: what a person would see as a frozen window.
class StallMeter
{
public:
    StallMeter()
    {
        m_sinceLastTurn.start();
        m_tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_tick, &QTimer::timeout,
                         [this] { m_longest = std::max(m_longest, m_sinceLastTurn.restart()); });
        m_tick.start(10);
    }

    qint64 longestStallMs() const { return std::max(m_longest, m_sinceLastTurn.elapsed()); }

private:
    QElapsedTimer m_sinceLastTurn;
    QTimer m_tick;
    qint64 m_longest = 0;
};
