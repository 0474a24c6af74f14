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
        m_clock.start();
        m_tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_tick, &QTimer::timeout, [this] {
            const qint64 now = m_clock.elapsed();
            if (now - m_lastTurn > m_longest) {
                m_longest = now - m_lastTurn;
                m_longestBegan = m_lastTurn;
            }
            m_lastTurn = now;
        });
        m_tick.start(10);
    }

    qint64 longestStallMs() const { return std::max(m_longest, m_clock.elapsed() - m_lastTurn); }
    // When the longest stall began, in milliseconds since the meter started.
    qint64 longestStallBeganMs() const { return m_longestBegan; }

private:
    QElapsedTimer m_clock;
    QTimer m_tick;
    qint64 m_lastTurn = 0;
    qint64 m_longest = 0;
    qint64 m_longestBegan = 0;
};
