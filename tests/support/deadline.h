// Runs a call that must not hang (a reader handed a pipe or a device).
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <future>
#include <thread>
#include <type_traits>
#include <utility>

namespace testsupport {

// The result of `fn()`, run on its own thread. A call still running after
// `limit` cannot be stopped from outside and may keep eating memory, so the
// test program ends there with a message naming `what`.
template <class Fn>
auto FinishesWithin(std::chrono::seconds limit, const char* what, Fn fn) -> decltype(fn()) {
    using R = decltype(fn());
    std::packaged_task<R()> task(std::move(fn));
    std::future<R> result = task.get_future();
    std::thread worker(std::move(task));
    if (result.wait_for(limit) != std::future_status::ready) {
        std::fprintf(stderr, "FAILED: %s did not finish within %lld s\n", what,
                     static_cast<long long>(limit.count()));
        std::fflush(stderr);
        std::_Exit(3);
    }
    worker.join();
    return result.get();
}

}  // namespace testsupport
