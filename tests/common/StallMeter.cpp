#include "StallMeter.h"

#include <algorithm>

StallMeter::StallMeter()
{
    m_clock.start();
    m_tick.setInterval(10);
    m_tick.setTimerType(Qt::PreciseTimer);
    connect(&m_tick, &QTimer::timeout, this, [this] {
        const qint64 now = m_clock.elapsed();
        if (now - m_lastTurn > m_longest) {
            m_longest = now - m_lastTurn;
            m_longestBegan = m_lastTurn;
        }
        m_lastTurn = now;
    });
    m_tick.start();
}

qint64 StallMeter::longestStallMs() const
{
    return std::max(m_longest, m_clock.elapsed() - m_lastTurn);
}
