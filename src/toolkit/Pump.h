#pragma once

#include <functional>

// The message pump of long loops. Memos and list boxes collect the lines added between two
// pumps and hand them to their views in one batch when the pump runs or a handler ends.
namespace Pump {

// Hands every pending batch to its view, then handles every waiting message and returns.
void pumpMessages();

void flushBatches();

// A batch holder registers a flush function for its lifetime.
int registerBatch(std::function<void()> flush);
void unregisterBatch(int id);

} // namespace Pump
