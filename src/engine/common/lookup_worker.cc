#include "engine/common/lookup_worker.h"

#include "engine/common/archive_engine.h"

namespace kvtengine {

LookupWorker::LookupWorker(std::function<std::shared_ptr<kvtfields::IAutoCompleteStore>()> open)
    : open_(std::move(open)) {}

LookupWorker::~LookupWorker() {
  {
    std::lock_guard lock(m_);
    stop_ = true;
  }
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void LookupWorker::Ask(Question question, std::shared_ptr<kvt::Platform> platform) {
  {
    std::lock_guard lock(m_);
    next_.emplace(std::move(question), std::move(platform));  // replaces one not yet started
  }
  cv_.notify_all();
  // Started by the first question: a program that never types opens no second connection.
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
}

void LookupWorker::Run() {
  std::shared_ptr<kvtfields::IAutoCompleteStore> store;
  for (;;) {
    std::unique_lock lock(m_);
    cv_.wait(lock, [&] { return stop_ || next_; });
    if (stop_) return;
    auto [q, platform] = std::move(*next_);
    next_.reset();
    lock.unlock();
    std::vector<std::string> answer;
    try {
      if (!store) store = open_();
      answer = store->StartingWith(q.table, q.key, q.prefix, q.match_case, q.limit);
    } catch (const std::exception&) {
      store.reset();  // suggestions are a help: none this time, a new connection next time
    }
    platform->Post([done = std::move(q.done), answer = std::move(answer)]() mutable {
      done(std::move(answer));
    });
  }
}

void AskLater(LookupWorker* worker, kvtfields::IAutoCompleteStore& store, LookupWorker::Question q,
              const char* source) {
  auto platform = kvt::CurrentPlatformRef();
  if (!worker || !platform->PostsWork()) {
    return q.done(store.StartingWith(q.table, q.key, q.prefix, q.match_case, q.limit));
  }
  QuotedStoreTable(q.table, source);
  worker->Ask(std::move(q), std::move(platform));
}

}  // namespace kvtengine
