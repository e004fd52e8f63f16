// EventSource: typed events of a control. A subscriber holds a Subscription; destroying it
// unsubscribes. Emission survives re-entrancy (a handler that raises the same event again),
// handlers that unsubscribe (themselves or others) while being called, and the source itself
// being destroyed by a handler.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace kvt {

namespace detail {
class SlotListBase {
 public:
  virtual ~SlotListBase() = default;
  virtual void Remove(std::size_t id) = 0;
};
}  // namespace detail

/// Keeps one handler subscribed; move-only. Unsubscribes when destroyed or reset.
class Subscription {
 public:
  Subscription() = default;
  Subscription(std::weak_ptr<detail::SlotListBase> list, std::size_t id)
      : list_(std::move(list)), id_(id) {}
  Subscription(Subscription&& o) noexcept : list_(std::move(o.list_)), id_(o.id_) {}
  Subscription& operator=(Subscription&& o) noexcept {
    if (this != &o) {
      Reset();
      list_ = std::move(o.list_);
      id_ = o.id_;
    }
    return *this;
  }
  Subscription(const Subscription&) = delete;
  Subscription& operator=(const Subscription&) = delete;
  ~Subscription() { Reset(); }

  void Reset() {
    if (auto l = list_.lock()) l->Remove(id_);
    list_.reset();
  }
  bool Active() const { return !list_.expired(); }

 private:
  std::weak_ptr<detail::SlotListBase> list_;
  std::size_t id_ = 0;
};

template <class... Args>
class EventSource {
 public:
  using Handler = std::function<void(Args...)>;

  EventSource() = default;  // the handler list is made by the first subscription
  EventSource(const EventSource&) = delete;
  EventSource& operator=(const EventSource&) = delete;

  [[nodiscard]] Subscription Subscribe(Handler handler) {
    if (!list_) list_ = std::make_shared<List>();
    const std::size_t id = ++list_->next_id;
    // While an emission runs, the running handlers must not move: newcomers wait aside.
    (list_->depth > 0 ? list_->pending : list_->slots)
        .push_back(Slot{id, std::move(handler), true});
    return Subscription(list_, id);
  }

  /// Calls every handler subscribed when the emission starts and still subscribed when its
  /// turn comes, in subscription order.
  void Emit(Args... args) {
    if (!list_) return;                  // nobody ever subscribed
    std::shared_ptr<List> list = list_;  // keeps the handlers alive if the source goes away
    ++list->depth;
    struct Leave {
      List& l;
      ~Leave() {
        if (--l.depth == 0) l.Settle();
      }
    } leave{*list};
    const std::size_t n = list->slots.size();
    for (std::size_t i = 0; i < n; ++i) {
      Slot& s = list->slots[i];
      if (s.alive) s.handler(args...);
    }
  }

  std::size_t SubscriberCount() const {
    if (!list_) return 0;
    std::size_t n = 0;
    for (const auto& s : list_->slots) n += s.alive ? 1 : 0;
    for (const auto& s : list_->pending) n += s.alive ? 1 : 0;
    return n;
  }

 private:
  struct Slot {
    std::size_t id;
    Handler handler;
    bool alive;
  };
  struct List : detail::SlotListBase {
    std::vector<Slot> slots;
    std::vector<Slot> pending;  // subscribed during an emission
    std::size_t next_id = 0;
    int depth = 0;
    void Remove(std::size_t id) override {
      for (auto* v : {&slots, &pending}) {
        for (auto& s : *v) {
          if (s.id == id && s.alive) {
            s.alive = false;
            // The running handler must outlive its own call: erase only outside emission.
            if (depth == 0) Settle();
            return;
          }
        }
      }
    }
    void Settle() {
      std::erase_if(slots, [](const Slot& s) { return !s.alive; });
      for (auto& s : pending) {
        if (s.alive) slots.push_back(std::move(s));
      }
      pending.clear();
    }
  };
  std::shared_ptr<List> list_;
};

}  // namespace kvt
