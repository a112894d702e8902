// Stopping a pool of worker threads that sleep on one condition variable: the stop flag is
// set under the pool's mutex (so no worker misses it between its check and its wait), every
// worker is woken, and each is joined before the pool's buffers go.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace pnvzip {

inline void stopWorkers(std::mutex &mutex, bool &stopping, std::condition_variable &wake,
                        std::vector<std::thread> &threads)
{
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    for (std::thread &t : threads)
        t.join();
    threads.clear();
}

} // namespace pnvzip
