#pragma once

#include "model/Clock.h"

// A clock that stands still at `current` until the test sets it.
class ManualClock final : public Clock
{
public:
    QDateTime now() const override { return current; }

    QDateTime current = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
};
