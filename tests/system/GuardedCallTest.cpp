#include <doctest.h>

#include <windows.h>

#include "system/GuardedCall.h"

namespace {

int AnswerSeven(void*)
{
    return 7;
}

int WriteThroughNull(void* context)
{
    *static_cast<volatile int*>(context) = 1;
    return 1;
}

int ProbeHandledFault(void*)
{
    // The system handles this access violation itself; the routine goes on.
    return IsBadReadPtr(nullptr, 4) ? 5 : 0;
}

} // namespace

TEST_CASE("RunGuarded ends only the faulting call")
{
    DWORD code = 1;
    CHECK(RunGuarded(&AnswerSeven, nullptr, &code) == 7);
    CHECK(code == 0);
    CHECK(RunGuarded(&WriteThroughNull, nullptr, &code) == 0);
    CHECK(code == EXCEPTION_ACCESS_VIOLATION);
    CHECK(RunGuarded(&ProbeHandledFault, nullptr, &code) == 5);
    CHECK(code == 0);
    // Again after a fault: the filter was removed and is installed anew.
    CHECK(RunGuarded(&WriteThroughNull, nullptr, &code) == 0);
    CHECK(RunGuarded(&AnswerSeven, nullptr) == 7);
}
