#include "reading/page_reading.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "engine/common/file_store.h"

namespace kvtread {

namespace {

// How often waiting workers look for files kept by other programs.
constexpr std::chrono::seconds kLookAgain{30};

// A file larger than this is not read into memory to be read: it is set aside, said.
constexpr std::int64_t kMaxReadBytes = std::int64_t{512} << 20;

}  // namespace

PageReading::PageReading(std::function<std::shared_ptr<kvtengine::ArchiveEngine>()> connect,
                         int workers, PageBudget budget)
    : connect_(std::move(connect)), workers_(std::max(1, workers)), budget_(budget) {}

PageReading::~PageReading() {
  Stop();
  wake_.notify_all();
  for (auto& t : threads_) {
    if (t.joinable()) t.join();
  }
}

void PageReading::Start(std::function<void(const ReadProgress&)> progress, bool stay) {
  progress_ = std::move(progress);
  stay_ = stay;
  for (int i = 0; i < workers_; ++i) threads_.emplace_back([this] { Work(); });
}

void PageReading::Wait() {
  for (auto& t : threads_) {
    if (t.joinable()) t.join();
  }
  threads_.clear();
  std::lock_guard lock(m_);
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

void PageReading::Stop() {
  {
    std::lock_guard lock(m_);
    stop_ = true;
  }
  wake_.notify_all();
}

void PageReading::Wake() {
  {
    std::lock_guard lock(m_);
    exhausted_ = false;
  }
  wake_.notify_all();
}

std::string PageReading::Next(kvtengine::ArchiveEngine& engine) {
  std::unique_lock lock(m_);
  for (;;) {
    if (queue_.empty() && !exhausted_) {
      for (auto& sha : engine.FilesToRead(reader_, listed_, 64)) {
        listed_ = sha;
        if (!in_hand_.contains(sha)) queue_.push_back(std::move(sha));  // another worker's
      }
      if (queue_.empty()) {
        exhausted_ = true;
        listed_.clear();  // woken, the next look starts from the first file again
      }
    }
    if (!queue_.empty() || !stay_ || stop_) break;
    // Other programs keep files too: with no word from this one, look again now and then.
    if (!wake_.wait_for(lock, kLookAgain, [&] { return stop_ || !exhausted_; })) {
      exhausted_ = false;
    }
  }
  if (queue_.empty()) return {};
  std::string sha = std::move(queue_.front());
  queue_.pop_front();
  in_hand_.insert(sha);
  return sha;
}

void PageReading::Work() {
  try {
    if (nice_ != 0) ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), nice_);
    const auto engine = connect_();
    std::unique_ptr<Ocr> ocr;  // its model loaded only when there is a page to read
    while (!stop_) {
      const std::string sha = Next(*engine);
      if (sha.empty()) return;
      kvtfiles::StoredFile file;
      if (!engine->FindFile(sha, file)) {  // gone meanwhile
        std::lock_guard lock(m_);
        in_hand_.erase(sha);
        continue;
      }
      kvtfiles::FileReading reading;
      if (file.size > kMaxReadBytes) {
        reading.reader = reader_;
        reading.read_at = kvtengine::SavedAtNow();
        reading.failure = "il file supera i " + std::to_string(kMaxReadBytes >> 20) +
                          " MB: le sue pagine non si leggono";
      } else {
        if (!ocr) {
          ocr = std::make_unique<Ocr>();
          ocr->CancelWhen(&stop_);  // a program closing does not wait for a page
        }
        std::string bytes;
        bytes.reserve(static_cast<std::size_t>(file.size));
        try {
          kvtengine::ReadKeptFile(*engine, sha, "",
                                  [&](std::string_view piece) { bytes.append(piece); });
          reading = ReadPages(bytes, *ocr, budget_);
        } catch (const kvt::Error& e) {  // damaged or missing: said in the reading
          reading = {reader_, kvtengine::SavedAtNow(), e.Description(), {}};
        }
      }
      if (stop_) return;  // a page cut short by the stop is no reading to keep
      engine->KeepReading(sha, reading);
      // Told in the order done, outside the lock of the work: what it calls may stop it.
      std::lock_guard told(progress_m_);
      ReadProgress now;
      {
        std::lock_guard lock(m_);
        in_hand_.erase(sha);
        ++done_.files;
        done_.pages += static_cast<std::int64_t>(reading.pages.size());
        if (!reading.failure.empty()) ++done_.failed;
        done_.last =
            file.name + ": " +
            (reading.failure.empty() ? std::to_string(reading.pages.size()) +
                                           (reading.pages.size() == 1 ? " pagina" : " pagine")
                                     : reading.failure);
        now = done_;
      }
      if (progress_) progress_(now);
    }
  } catch (...) {
    std::lock_guard lock(m_);
    if (!failure_) failure_ = std::current_exception();
    stop_ = true;
    wake_.notify_all();
  }
}

}  // namespace kvtread
