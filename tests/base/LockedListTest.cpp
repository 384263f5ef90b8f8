#include <doctest.h>

#include "BoundedThread.h"
#include "base/LockedList.h"

#include <memory>
#include <utility>
#include <vector>

namespace {

struct Entry : ListNode
{
    Entry(int id, int* deleted) : id(id), deleted(deleted) {}
    ~Entry() override { ++*deleted; }
    int id;
    int* deleted;
};

// The ids front to back; a broken back link or last pointer shows as -1.
template <typename List, typename IdOf> std::vector<int> Ids(List& list, IdOf idOf)
{
    std::vector<int> ids;
    decltype(list.First()) previous = nullptr;
    for (auto node = list.First(); node; previous = node, node = node->next)
        ids.push_back(node->previous == previous ? idOf(node) : -1);
    if (list.Last() != previous)
        ids.push_back(-1);
    return ids;
}

std::vector<int> Ids(LockedList& list)
{
    return Ids(list, [](ListNode* node) { return static_cast<Entry*>(node)->id; });
}

// A record of a typed list, which yields inside Append, where a missing lock
// would let another thread in.
struct RaceRecord
{
    RaceRecord* next;
    RaceRecord* previous;
    int value;
};

} // namespace

template <> struct LockedListPause<RaceRecord>
{
    static void Between() { SwitchToThread(); }
};

TEST_CASE("a locked list keeps insertion order and owns its records")
{
    int deleted = 0;
    {
        LockedList list;
        Entry* entries[4];
        for (int i = 0; i < 4; ++i)
            list.Append(entries[i] = new Entry(i, &deleted));
        CHECK(Ids(list) == std::vector<int>{0, 1, 2, 3});

        Entry stranger(9, &deleted);
        CHECK(list.Remove(&stranger) == 0);
        // A middle, the first, the last and the only record, each by its own links.
        const std::pair<int, std::vector<int>> removals[] = {
            {1, {0, 2, 3}}, {0, {2, 3}}, {3, {2}}, {2, {}}};
        for (const auto& [removed, left] : removals) {
            INFO("removing " << removed);
            REQUIRE(list.Remove(entries[removed]) == 1);
            delete entries[removed];
            CHECK(Ids(list) == left);
        }

        list.Append(new Entry(4, &deleted));
        list.Append(new Entry(5, &deleted));
        deleted = 0;
        list.Clear();
        CHECK(deleted == 2);
        CHECK(Ids(list).empty());
        list.Append(new Entry(6, &deleted));
        deleted = 0;
    }
    // The record left in the list, then the stranger.
    CHECK(deleted == 2);
}

TEST_CASE("appends from several threads all arrive")
{
    // Threads released together append records made beforehand, each
    // yielding between reading the list's end and linking to it (see
    // RaceRecord): a missing lock loses or mislinks records every time.
    const int threads = 8;
    const int perThread = 500;
    LockedListOf<RaceRecord> list;
    std::vector<std::vector<RaceRecord*>> records(threads);
    for (int t = 0; t < threads; ++t)
        for (int i = 0; i < perThread; ++i)
            records[t].push_back(new RaceRecord{nullptr, nullptr, t * perThread + i});
    volatile LONG ready = 0;
    {
        std::vector<std::unique_ptr<BoundedThread>> workers;
        for (int t = 0; t < threads; ++t) {
            workers.push_back(std::make_unique<BoundedThread>([&list, &records, &ready, t] {
                InterlockedIncrement(&ready);
                while (InterlockedCompareExchange(&ready, 0, 0) < threads)
                    SwitchToThread();
                for (RaceRecord* record : records[t])
                    list.Append(record);
            }));
            REQUIRE(workers.back()->Started());
        }
    }
    const std::vector<int> ids = Ids(list, [](RaceRecord* record) { return record->value; });
    REQUIRE(ids.size() == threads * perThread);
    // Each thread's own records stay in the order it appended them.
    std::vector<int> lastSeen(threads, -1);
    bool ordered = true;
    for (int id : ids) {
        ordered = ordered && id >= 0 && id % perThread > lastSeen[id / perThread];
        lastSeen[id / perThread] = id % perThread;
    }
    CHECK(ordered);
}

TEST_CASE("a critical section is usable before initialisation")
{
    CriticalSection section;
    section.Enter();
    section.Leave();
    section.Init();
    section.Init();
    {
        ScopedLock lock(section);
        ScopedLock again(section);
    }
    section.Delete();
    CHECK_FALSE(section.IsInitialised());
}
