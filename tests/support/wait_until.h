// WaitUntil: the one way tests wait for something another thread or process
// does: the condition is checked every few milliseconds until it holds or
// `limit` has passed. Never a fixed sleep: a fast machine waits no longer
// than it must, a slow one (ThreadSanitizer on two cores) as long as it
// needs up to the limit.
#pragma once

#include <chrono>
#include <functional>

namespace zelto::testing {

// Whether `condition` held within `limit`.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::seconds(10));

}  // namespace zelto::testing
