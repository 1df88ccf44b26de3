#include "primitives/Clock.h"

#include <chrono>

namespace Clock {

namespace {
std::function<QDateTime()> &source()
{
    static std::function<QDateTime()> f;
    return f;
}
} // namespace

qint64 tickCount64()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

QDateTime now()
{
    return source() ? source()() : QDateTime::currentDateTime();
}

void setNow(std::function<QDateTime()> f)
{
    source() = std::move(f);
}

double timeOfDay()
{
    return now().time().msecsSinceStartOfDay() / 86400000.0;
}

} // namespace Clock
