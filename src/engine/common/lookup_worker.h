// Autocomplete lookups on a thread of their own, with a connection of their own, so that a
// keystroke never waits for the database: only the newest question is answered (an older one
// not yet started is dropped), and the answer is posted to the thread of the windows.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "kvtfields/contracts/autocomplete_store.h"
#include "runtime/platform.h"

namespace kvtengine {

class LookupWorker {
 public:
  /// `open` makes, on the worker's thread, the store it asks (over its own connection); it is
  /// called again after a failure.
  explicit LookupWorker(std::function<std::shared_ptr<kvtfields::IAutoCompleteStore>()> open);
  ~LookupWorker();
  LookupWorker(const LookupWorker&) = delete;
  LookupWorker& operator=(const LookupWorker&) = delete;

  struct Question {
    std::string table, key, prefix;
    bool match_case = false;
    std::size_t limit = 0;
    std::function<void(std::vector<std::string>)> done;  // run on the windows' thread
  };
  /// Asks in the background; the answer (nothing when the database failed) goes to
  /// `platform`'s Post.
  void Ask(Question question, std::shared_ptr<kvt::Platform> platform);

 private:
  void Run();
  std::function<std::shared_ptr<kvtfields::IAutoCompleteStore>()> open_;
  std::mutex m_;
  std::condition_variable cv_;
  std::optional<std::pair<Question, std::shared_ptr<kvt::Platform>>> next_;
  bool stop_ = false;
  std::thread thread_;
};

/// A store's StartingWithLater: on `worker` when the window system has a loop to post the
/// answer to (and a worker is there), otherwise `store`'s StartingWith at once. A table name
/// that is not one raises 5 from `source` here, not later.
void AskLater(LookupWorker* worker, kvtfields::IAutoCompleteStore& store, LookupWorker::Question q,
              const char* source);

}  // namespace kvtengine
