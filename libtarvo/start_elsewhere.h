// Starting a helper thread on another processor than its creator's. A new
// thread tends to wait on its creator's processor for a few milliseconds
// before another takes it, much of a short task: it is moved off that
// processor at once, and allows itself every processor again once it runs.
// Header-only, for the library and the tools alike.
#pragma once

#include <atomic>
#include <memory>
#include <pthread.h>
#include <sched.h>
#include <thread>
#include <utility>

namespace velkin::threads {

// Like std::thread(work); raises std::system_error as it does.
template <class Work>
std::thread startElsewhere(Work work) {
    cpu_set_t allowed;
    if (pthread_getaffinity_np(pthread_self(), sizeof allowed, &allowed) != 0) return std::thread(std::move(work));
    auto moved = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([work = std::move(work), allowed, moved]() mutable {
        while (!moved->load(std::memory_order_acquire)) std::this_thread::yield();
        pthread_setaffinity_np(pthread_self(), sizeof allowed, &allowed);
        work();
    });
    cpu_set_t others = allowed;
    const int here = sched_getcpu();
    if (here >= 0 && CPU_ISSET(here, &others)) CPU_CLR(here, &others);
    if (CPU_COUNT(&others) > 0) pthread_setaffinity_np(thread.native_handle(), sizeof others, &others);
    moved->store(true, std::memory_order_release);
    return thread;
}

} // namespace velkin::threads
