#include "corvane/Sptr.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

std::atomic<int> g_deleted(0);

struct Base {
  virtual ~Base() { ++g_deleted; }
};
struct Derived : Base {
  Sptr<Base> inner;  // lets a test assign from a pointer that lives inside the released object
};
struct Other : Base {};

struct Case {
  const char* name;
  std::function<void(Sptr<Base>& a, Sptr<Base>& b)> steps;
  int deletedAfterSteps;  // objects deleted once the steps ran (a and b still alive)
  int useA;               // a.useCount() after the steps
  int useB;
  int deletedAtEnd;  // after a and b are gone: every object deleted exactly once
};

TEST(Sptr, CountingTable) {
  const Case cases[] = {
      {"raw pointer starts a count of one", [](Sptr<Base>& a, Sptr<Base>&) { a = new Base; }, 0, 1, 0, 1},
      {"assigning the raw pointer already held changes nothing",
       [](Sptr<Base>& a, Sptr<Base>&) {
         a = new Base;
         a = a.get();
       },
       0, 1, 0, 1},
      {"empty = empty is a no-op", [](Sptr<Base>& a, Sptr<Base>& b) { a = b; }, 0, 0, 0, 0},
      {"assigning an empty pointer to a full one releases it",
       [](Sptr<Base>& a, Sptr<Base>& b) {
         a = new Base;
         a = b;
       },
       1, 0, 0, 1},
      {"copy keeps the object alive after the first owner lets go",
       [](Sptr<Base>& a, Sptr<Base>& b) {
         a = new Base;
         b = a;
         a.reset();
       },
       0, 0, 1, 1},
      {"self assignment keeps the count",
       [](Sptr<Base>& a, Sptr<Base>&) {
         a = new Base;
         Sptr<Base>& same = a;
         a = same;
       },
       0, 1, 0, 1},
      {"assigning another object releases the old one first",
       [](Sptr<Base>& a, Sptr<Base>& b) {
         a = new Base;
         b = new Base;
         a = b;
       },
       1, 2, 2, 2},
      {"derived converts to base sharing one count",
       [](Sptr<Base>& a, Sptr<Base>& b) {
         Sptr<Derived> d(new Derived);
         a = d;
         b = Sptr<Base>(d);
       },
       0, 2, 2, 1},
      {"assigning a pointer held inside the released object",
       [](Sptr<Base>& a, Sptr<Base>&) {
         Derived* d = new Derived;
         d->inner = new Other;
         a = d;
         a = d->inner;  // the Derived dies; its inner Other must survive in a
       },
       1, 1, 0, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_deleted = 0;
    {
      Sptr<Base> a, b;
      c.steps(a, b);
      EXPECT_EQ(c.deletedAfterSteps, g_deleted.load());
      EXPECT_EQ(c.useA, a.useCount());
      EXPECT_EQ(c.useB, b.useCount());
    }
    EXPECT_EQ(c.deletedAtEnd, g_deleted.load());
  }
}

TEST(Sptr, EmptyAndEquality) {
  Sptr<Base> empty;
  EXPECT_FALSE(empty);
  EXPECT_TRUE(empty == 0);
  EXPECT_EQ(0, empty.useCount());
  Sptr<Base> a(new Base);
  Sptr<Base> copy(a);
  Sptr<Base> other(new Base);
  EXPECT_TRUE(a == copy);
  EXPECT_TRUE(a != other);
  EXPECT_TRUE(a != 0);
}

TEST(Sptr, DynamicCastSharesOrIsEmpty) {
  g_deleted = 0;
  {
    Sptr<Base> b(new Derived);
    Sptr<Derived> d = b.dynamicCast<Derived>();
    ASSERT_TRUE(d);
    EXPECT_EQ(2, b.useCount());
    EXPECT_FALSE(b.dynamicCast<Other>());
    b.reset();
    EXPECT_EQ(0, g_deleted.load());
    EXPECT_EQ(1, d.useCount());
  }
  EXPECT_EQ(1, g_deleted.load());
}

// Copies of one pointer made and dropped on eight threads: the object dies once, at the end.
TEST(Sptr, ConcurrentCopyAndDestroy) {
  g_deleted = 0;
  Sptr<Base> original(new Derived);
  std::atomic<bool> go(false);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    Sptr<Base> mine(original);
    threads.emplace_back([mine, &go]() mutable {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < 20000; ++i) {
        Sptr<Base> a(mine);
        Sptr<Base> b;
        b = a;
        Sptr<Base> c(b);
        a.reset();
        if (i % 2 == 0) mine = c;
      }
      mine.reset();
    });
  }
  go = true;
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(0, g_deleted.load());
  EXPECT_EQ(1, original.useCount());
  original.reset();
  EXPECT_EQ(1, g_deleted.load());
}

}  // namespace
