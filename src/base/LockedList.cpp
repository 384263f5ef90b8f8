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

void ListLock::Lock()
{
    section_.Enter();
}

void ListLock::Unlock()
{
    section_.Leave();
}
