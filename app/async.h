#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

class QThreadPool;

// Runs a blocking call off the calling thread and hands its result back to a
// context object on the context's own thread.
//
//   Async::run(this, [sn] { return fetch(sn); }, [this](bool ok) { show(ok); });
//
// The work runs on a worker of the pool; `done` runs on the context's thread
// unless the context is gone by then. Work that has not started yet is
// dropped by cancel() or when its context is destroyed; work already
// running finishes, but its result is not delivered to a destroyed context.
// Call run() from the context's thread, which needs a running event loop.
namespace Async {

namespace detail {
using Deliver = std::function<void()>;
using Work = std::function<Deliver()>;
// A null pool means the helper's own shared pool; work of a higher
// priority runs before lower work still waiting on that pool.
void submit(QThreadPool *pool, QObject *context, Work work, int priority = 0);
} // namespace detail

// Same as below, on a pool of the caller's (one thread = one at a time, in
// the order asked for, higher priorities first).
template <typename WorkFn, typename DoneFn>
void run(QThreadPool *pool, QObject *context, WorkFn work, DoneFn done, int priority = 0)
{
    using Result = std::invoke_result_t<WorkFn &>;
    detail::submit(pool, context,
                   [work = std::move(work), done = std::move(done)]() mutable -> detail::Deliver {
                       if constexpr (std::is_void_v<Result>) {
                           work();
                           return [done]() mutable { done(); };
                       } else {
                           auto result = std::make_shared<Result>(work());
                           return [done, result]() mutable { done(std::move(*result)); };
                       }
                   },
                   priority);
}

template <typename WorkFn, typename DoneFn>
void run(QObject *context, WorkFn work, DoneFn done)
{
    run(nullptr, context, std::move(work), std::move(done));
}

// Work whose outcome nobody waits for, still tied to a context's lifetime.
template <typename WorkFn>
void run(QObject *context, WorkFn work)
{
    run(nullptr, context, std::move(work), [](auto &&...) {});
}

// The end of the process: drops the work not started on the shared pool and
// waits for the running work to end. Results are not delivered any more.
void stopAll();

// Drops the work of `context` that has not started, releasing what it
// captured at once; returns how many.
int cancel(QObject *context);

} // namespace Async
