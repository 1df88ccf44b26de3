#include "toolkit/Pump.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <map>

namespace Pump {

namespace {

// Views catch up at most this often during a long loop: the input is still handled at
// every pump, but painting tens of thousands of times a second is what a long scan
// would otherwise spend most of its time on.
constexpr qint64 FrameMilliseconds = 33;

std::map<int, std::function<void()>> &batches()
{
    static std::map<int, std::function<void()>> map;
    return map;
}

QElapsedTimer &sinceFlush()
{
    static QElapsedTimer timer;
    return timer;
}

} // namespace

void flushBatches()
{
    for (auto &[id, flush] : batches())
        flush();
    sinceFlush().start();
}

void pumpMessages()
{
    if (!sinceFlush().isValid() || sinceFlush().elapsed() >= FrameMilliseconds)
        flushBatches();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

int registerBatch(std::function<void()> flush)
{
    static int next = 0;
    batches().emplace(++next, std::move(flush));
    return next;
}

void unregisterBatch(int id)
{
    batches().erase(id);
}

} // namespace Pump
