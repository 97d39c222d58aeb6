// Puts every outward call back when the test ends, whatever the test replaced.
#pragma once
#include "base/outward_calls.h"

namespace test {

struct OutwardCallsGuard {
    OutwardCalls saved = outwardCalls;
    ~OutwardCallsGuard() { outwardCalls = saved; }
};

} // namespace test
