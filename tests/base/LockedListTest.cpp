#include <doctest.h>

#include "base/LockedList.h"

#include <thread>
#include <vector>

namespace {

struct Entry : ListNode
{
    Entry(int id, int* deleted) : id(id), deleted(deleted) {}
    ~Entry() override { ++*deleted; }
    int id;
    int* deleted;
};

int Id(ListNode* node)
{
    return static_cast<Entry*>(node)->id;
}

struct PlainRecord
{
    PlainRecord* next;
    PlainRecord* previous;
    int value;
};

} // namespace

TEST_CASE("a locked list keeps insertion order and owns its records")
{
    int deleted = 0;
    {
        LockedList list;
        auto* a = new Entry(1, &deleted);
        auto* b = new Entry(2, &deleted);
        auto* c = new Entry(3, &deleted);
        list.Append(a);
        list.Append(b);
        list.Append(c);
        CHECK(Id(list.First()) == 1);
        CHECK(Id(list.First()->next) == 2);
        CHECK(Id(list.First()->next->next) == 3);
        CHECK(list.Last() == c);

        Entry stranger(9, &deleted);
        CHECK(list.Remove(&stranger) == 0);
        CHECK(list.First() == a);

        REQUIRE(list.Remove(b) == 1);
        CHECK(a->next == c);
        CHECK(c->previous == a);
        delete b;

        REQUIRE(list.Remove(a) == 1);
        REQUIRE(list.Remove(c) == 1);
        CHECK(list.First() == nullptr);
        CHECK(list.Last() == nullptr);
        list.Clear();
        delete a;
        delete c;

        list.Append(new Entry(4, &deleted));
        list.Append(new Entry(5, &deleted));
        deleted = 0;
        list.Clear();
        CHECK(deleted == 2);
        CHECK(list.First() == nullptr);
        list.Append(new Entry(6, &deleted));
        deleted = 0;
    }
    // The stranger and the record left in the list.
    CHECK(deleted == 2);
}

TEST_CASE("plain records can be kept too")
{
    LockedListOf<PlainRecord> list;
    list.Append(new PlainRecord{nullptr, nullptr, 7});
    list.Append(new PlainRecord{nullptr, nullptr, 8});
    CHECK(list.First()->value == 7);
    CHECK(list.Last()->previous == list.First());
}

TEST_CASE("appends from several threads all arrive")
{
    const int threads = 4;
    const int perThread = 500;
    int deleted = 0;
    LockedList list;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&list, &deleted, t] {
            for (int i = 0; i < perThread; ++i) {
                list.Append(new Entry(t * perThread + i, &deleted));
            }
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    std::vector<int> lastSeen(threads, -1);
    int count = 0;
    bool ordered = true;
    ListNode* previous = nullptr;
    for (ListNode* node = list.First(); node; previous = node, node = node->next) {
        ordered = ordered && node->previous == previous;
        int id = Id(node);
        // Each thread's own records stay in the order it appended them.
        ordered = ordered && id % perThread > lastSeen[id / perThread];
        lastSeen[id / perThread] = id % perThread;
        ++count;
    }
    CHECK(ordered);
    CHECK(count == threads * perThread);
    CHECK(list.Last() == previous);
    list.Clear();
    CHECK(deleted == threads * perThread);
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
