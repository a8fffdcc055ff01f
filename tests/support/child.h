// Runs a piece of a test in a forked child, for what must not touch the test process itself
// (changed ids, limits, a library that fails to start).
#pragma once

#include <functional>

namespace testchild {

// The child's exit status, or -1 when it died of a signal.
int run(const std::function<int()>& body);

} // namespace testchild
