#pragma once

#include <windows.h>

// A critical section that may be entered before it is initialised (entering
// and leaving then do nothing), so objects built during static construction
// can lock safely in any order.
class CriticalSection
{
public:
    CriticalSection() = default;
    ~CriticalSection() { Delete(); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void Init();
    void Delete();
    void Enter();
    void Leave();
    bool IsInitialised() const { return initialised_; }

private:
    CRITICAL_SECTION section_;
    bool initialised_ = false;
};

// The lock shared by every locked list: a critical section. (A gate event
// that is created signalled and never reset would add nothing but a kernel
// call on every lock, a wineserver round trip under Wine, so there is none.)
class ListLock
{
public:
    ListLock() { section_.Init(); }
    ListLock(const ListLock&) = delete;
    ListLock& operator=(const ListLock&) = delete;

    void Lock();
    void Unlock();

private:
    CriticalSection section_;
};

// Holds a critical section or a list's lock for one scope.
class ScopedLock
{
public:
    explicit ScopedLock(CriticalSection& section) : section_(&section) { section.Enter(); }
    explicit ScopedLock(ListLock& list) : list_(&list) { list.Lock(); }
    ~ScopedLock()
    {
        if (section_) {
            section_->Leave();
        } else {
            list_->Unlock();
        }
    }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    CriticalSection* section_ = nullptr;
    ListLock* list_ = nullptr;
};

// Runs inside Append between reading the list's end and linking the new
// record to it: nothing in the program. A test specialises it for a record
// type of its own with a yield, which widens the window that a missing lock
// would leave open, so that its race test sees every such fault.
template <typename Record> struct LockedListPause
{
    static void Between() {}
};

// An intrusive, owning, doubly linked list. Record must have public members
// `Record* next` and `Record* previous` and be deletable through Record*.
// Changes run under the lock; walkers read First() and the next links and
// may hold the lock (Lock/Unlock or ScopedLock) while they do.
template <typename Record> class LockedListOf : public ListLock
{
public:
    LockedListOf() = default;
    ~LockedListOf() { Clear(); }

    void Append(Record* record)
    {
        ScopedLock lock(*this);
        record->next = nullptr;
        record->previous = last_;
        LockedListPause<Record>::Between();
        if (last_) {
            last_->next = record;
        } else {
            first_ = record;
        }
        last_ = record;
    }

    // Unlinks the record without deleting it: 1, or 0 when it is not in
    // this list.
    int Remove(Record* record)
    {
        ScopedLock lock(*this);
        if (!Contains(record)) {
            return 0;
        }
        Unlink(record);
        return 1;
    }

    // Deletes every record.
    void Clear()
    {
        ScopedLock lock(*this);
        while (Record* record = first_) {
            Unlink(record);
            delete record;
        }
    }

    Record* First() const { return first_; }
    Record* Last() const { return last_; }

private:
    bool Contains(const Record* record) const
    {
        for (Record* node = first_; node; node = node->next) {
            if (node == record) {
                return true;
            }
        }
        return false;
    }

    void Unlink(Record* record)
    {
        if (record->previous) {
            record->previous->next = record->next;
        } else {
            first_ = record->next;
        }
        if (record->next) {
            record->next->previous = record->previous;
        } else {
            last_ = record->previous;
        }
        record->next = nullptr;
        record->previous = nullptr;
    }

    Record* first_ = nullptr;
    Record* last_ = nullptr;
};

// Base of list records that have a virtual table; the list deletes them
// through the virtual destructor.
class ListNode
{
public:
    ListNode() = default;
    virtual ~ListNode() = default;
    ListNode(const ListNode&) = delete;
    ListNode& operator=(const ListNode&) = delete;

    ListNode* next = nullptr;
    ListNode* previous = nullptr;
};

// The list of ListNode-derived records. Walk with static_cast to the
// derived record type.
class LockedList : public LockedListOf<ListNode>
{
};
