#include "toolkit/Pump.h"

#include <QCoreApplication>
#include <map>

namespace Pump {

namespace {
std::map<int, std::function<void()>> &batches()
{
    static std::map<int, std::function<void()>> map;
    return map;
}
} // namespace

void flushBatches()
{
    for (auto &[id, flush] : batches())
        flush();
}

void pumpMessages()
{
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
