// Reads the pages of every kept file a reader has not read yet, on several threads, and keeps
// each reading as it is done: a run stopped halfway goes on where it stopped, and a file read
// by an older reader (another model) is read again.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/common/archive_engine.h"
#include "reading/page_reader.h"

namespace kvtread {

/// How far the reading has come.
struct ReadProgress {
  std::int64_t files = 0;   // files read (or found unreadable) by this run
  std::int64_t pages = 0;   // their pages read
  std::int64_t failed = 0;  // files with a failure kept
  std::string last;         // the last file done: its name and what became of it
};

class PageReading {
 public:
  /// `connect` opens a connection of each worker's own; `workers` threads (at least one).
  PageReading(std::function<std::shared_ptr<kvtengine::ArchiveEngine>()> connect, int workers,
              PageBudget budget = {});
  /// Stops the workers after the file each is reading.
  ~PageReading();
  PageReading(const PageReading&) = delete;
  PageReading& operator=(const PageReading&) = delete;

  /// Starts the workers; `progress` is called after each file, from a worker, one at a time.
  void Start(std::function<void(const ReadProgress&)> progress = {});
  /// Waits until no file is left to read (or Stop was called); raises what stopped a worker.
  void Wait();
  /// Asks the workers to stop after their current file.
  void Stop();

 private:
  void Work();
  // The next file to read, listing more when none is left in hand; empty when all are read.
  std::string Next(kvtengine::ArchiveEngine& engine);

  const std::function<std::shared_ptr<kvtengine::ArchiveEngine>()> connect_;
  const int workers_;
  const PageBudget budget_;
  const std::string reader_ = ReaderName();
  std::function<void(const ReadProgress&)> progress_;
  std::mutex m_;
  std::deque<std::string> queue_;
  std::string listed_;  // the last file listed
  bool exhausted_ = false;
  ReadProgress done_;
  std::exception_ptr failure_;
  std::atomic<bool> stop_{false};
  std::vector<std::thread> threads_;
};

}  // namespace kvtread
