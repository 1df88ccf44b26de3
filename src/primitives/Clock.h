#pragma once

#include <QDateTime>
#include <functional>

// The platform's clocks. Tests may replace the local date and time.
namespace Clock {

// Milliseconds of a monotonic counter.
qint64 tickCount64();

// The local date and time, to the millisecond.
QDateTime now();
void setNow(std::function<QDateTime()> source); // an empty function restores the real clock

// The local time of day as a fraction of a day.
double timeOfDay();

} // namespace Clock
