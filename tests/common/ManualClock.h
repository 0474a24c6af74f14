#pragma once

#include "model/Clock.h"

// A clock that stands still until the test moves it.
class ManualClock final : public Clock
{
public:
    QDateTime now() const override { return current; }
    void advance(qint64 seconds) { current = current.addSecs(seconds); }

    QDateTime current = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
};
