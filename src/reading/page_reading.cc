#include "reading/page_reading.h"

#include <algorithm>

#include "engine/common/file_store.h"

namespace kvtread {

namespace {

// A file larger than this is not read into memory to be read: it is set aside, said.
constexpr std::int64_t kMaxReadBytes = std::int64_t{512} << 20;

}  // namespace

PageReading::PageReading(std::function<std::shared_ptr<kvtengine::ArchiveEngine>()> connect,
                         int workers, PageBudget budget)
    : connect_(std::move(connect)), workers_(std::max(1, workers)), budget_(budget) {}

PageReading::~PageReading() {
  Stop();
  for (auto& t : threads_) {
    if (t.joinable()) t.join();
  }
}

void PageReading::Start(std::function<void(const ReadProgress&)> progress) {
  progress_ = std::move(progress);
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
  stop_ = true;
}

std::string PageReading::Next(kvtengine::ArchiveEngine& engine) {
  std::lock_guard lock(m_);
  if (queue_.empty() && !exhausted_) {
    for (auto& sha : engine.FilesToRead(reader_, listed_, 64)) queue_.push_back(std::move(sha));
    if (queue_.empty()) {
      exhausted_ = true;
    } else {
      listed_ = queue_.back();
    }
  }
  if (queue_.empty()) return {};
  std::string sha = std::move(queue_.front());
  queue_.pop_front();
  return sha;
}

void PageReading::Work() {
  try {
    const auto engine = connect_();
    Ocr ocr;
    while (!stop_) {
      const std::string sha = Next(*engine);
      if (sha.empty()) return;
      kvtfiles::StoredFile file;
      if (!engine->FindFile(sha, file)) continue;  // gone meanwhile
      kvtfiles::FileReading reading;
      if (file.size > kMaxReadBytes) {
        reading.reader = reader_;
        reading.read_at = kvtengine::SavedAtNow();
        reading.failure = "il file supera i " + std::to_string(kMaxReadBytes >> 20) +
                          " MB: le sue pagine non si leggono";
      } else {
        std::string bytes;
        bytes.reserve(static_cast<std::size_t>(file.size));
        try {
          kvtengine::ReadKeptFile(*engine, sha, "",
                                  [&](std::string_view piece) { bytes.append(piece); });
          reading = ReadPages(bytes, ocr, budget_);
        } catch (const kvt::Error& e) {  // damaged or missing: said in the reading
          reading = {reader_, kvtengine::SavedAtNow(), e.Description(), {}};
        }
      }
      engine->KeepReading(sha, reading);
      std::lock_guard lock(m_);
      ++done_.files;
      done_.pages += static_cast<std::int64_t>(reading.pages.size());
      if (!reading.failure.empty()) ++done_.failed;
      done_.last =
          file.name + ": " +
          (reading.failure.empty() ? std::to_string(reading.pages.size()) +
                                         (reading.pages.size() == 1 ? " pagina" : " pagine")
                                   : reading.failure);
      if (progress_) progress_(done_);
    }
  } catch (...) {
    std::lock_guard lock(m_);
    if (!failure_) failure_ = std::current_exception();
    stop_ = true;
  }
}

}  // namespace kvtread
