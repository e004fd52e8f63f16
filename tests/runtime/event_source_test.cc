#include "runtime/event_source.h"

#include <memory>
#include <string>
#include <vector>

#include "test_support.h"

namespace kvt {
namespace {

TEST(EventSourceTest, CallsHandlersInOrderUntilUnsubscribed) {
  EventSource<int> ev;
  std::vector<std::string> log;
  auto a = ev.Subscribe([&](int x) { log.push_back("a" + std::to_string(x)); });
  auto b = ev.Subscribe([&](int x) { log.push_back("b" + std::to_string(x)); });
  ev.Emit(1);
  a.Reset();
  ev.Emit(2);
  EXPECT_EQ(log, (std::vector<std::string>{"a1", "b1", "b2"}));
  EXPECT_EQ(ev.SubscriberCount(), 1u);
}

TEST(EventSourceTest, SurvivesReentrantEmission) {
  EventSource<int> ev;
  std::vector<int> seen;
  auto s = ev.Subscribe([&](int depth) {
    seen.push_back(depth);
    if (depth < 3) ev.Emit(depth + 1);  // a handler that writes to its control
  });
  auto t = ev.Subscribe([&](int depth) { seen.push_back(100 + depth); });
  ev.Emit(1);
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 103, 102, 101}));
}

TEST(EventSourceTest, HandlersMayUnsubscribeDuringEmission) {
  EventSource<> ev;
  int first = 0, second = 0, third = 0;
  Subscription s1, s3;
  s1 = ev.Subscribe([&] {
    ++first;
    s1.Reset();  // itself
    s3.Reset();  // a later one: it must not run in this emission
  });
  auto s2 = ev.Subscribe([&] { ++second; });
  s3 = ev.Subscribe([&] { ++third; });
  ev.Emit();
  ev.Emit();
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 2);
  EXPECT_EQ(third, 0);
}

TEST(EventSourceTest, HandlersAddedDuringEmissionRunFromTheNextOne) {
  EventSource<> ev;
  int added_calls = 0;
  std::vector<Subscription> extra;
  auto s = ev.Subscribe([&] { extra.push_back(ev.Subscribe([&] { ++added_calls; })); });
  ev.Emit();
  EXPECT_EQ(added_calls, 0);
  ev.Emit();
  EXPECT_EQ(added_calls, 1);
}

TEST(EventSourceTest, TheSourceMayBeDestroyedByAHandler) {
  auto ev = std::make_unique<EventSource<>>();
  int after = 0;
  auto s1 = ev->Subscribe([&] { ev.reset(); });
  auto s2 = ev->Subscribe([&] { ++after; });
  ev->Emit();
  EXPECT_EQ(after, 1);  // the emission in progress completes
  s1.Reset();           // unsubscribing from a gone source is harmless
}

TEST(EventSourceTest, ReferenceArgumentsReachTheEmitter) {
  EventSource<bool&> validate;
  auto s = validate.Subscribe([](bool& cancel) { cancel = true; });
  bool cancel = false;
  validate.Emit(cancel);
  EXPECT_TRUE(cancel);
}

}  // namespace
}  // namespace kvt
