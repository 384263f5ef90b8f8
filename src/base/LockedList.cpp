#include "base/LockedList.h"

void CriticalSection::Init()
{
    if (!initialised_) {
        InitializeCriticalSection(&section_);
        initialised_ = true;
    }
}

void CriticalSection::Delete()
{
    if (initialised_) {
        DeleteCriticalSection(&section_);
        initialised_ = false;
    }
}

void CriticalSection::Enter()
{
    if (initialised_) {
        EnterCriticalSection(&section_);
    }
}

void CriticalSection::Leave()
{
    if (initialised_) {
        LeaveCriticalSection(&section_);
    }
}

ListLock::ListLock() : gate_(CreateEventW(nullptr, TRUE, TRUE, nullptr))
{
    section_.Init();
}

void ListLock::Lock()
{
    section_.Enter();
    if (gate_) {
        WaitForSingleObjectEx(gate_.Get(), INFINITE, TRUE);
    }
}

void ListLock::Unlock()
{
    section_.Leave();
}
