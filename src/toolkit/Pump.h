#pragma once

#include <functional>

// The message pump of long loops. Memos and list boxes collect the lines added between two
// pumps and hand them to their views in one batch: at a pump, at most about 30 times a
// second, and always when a handler ends.
namespace Pump {

// Hands every pending batch to its view when the last hand-over is older than a frame,
// then handles every waiting message and returns.
void pumpMessages();

// Hands every pending batch to its view now.
void flushBatches();

// A batch holder registers a flush function for its lifetime.
int registerBatch(std::function<void()> flush);
void unregisterBatch(int id);

} // namespace Pump
