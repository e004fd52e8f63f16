// Reads the pages of every kept file a reader has not read yet, on several threads, and keeps
// each reading as it is done: a run stopped halfway goes on where it stopped, and a file read
// by an older reader (another model) is read again.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
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
  /// `stay`: with no file left they wait for Wake (a program that keeps files while it runs)
  /// or look again every 30 s (files other programs kept), else they end.
  void Start(std::function<void(const ReadProgress&)> progress = {}, bool stay = false);
  /// Files were kept since: the workers look again.
  void Wake();
  /// Waits until no file is left to read (or Stop was called); raises what stopped a worker.
  void Wait();
  /// Asks the workers to stop after their current file.
  void Stop();
  /// The workers read at this niceness (0: as the program; 10: after everything else), so that
  /// a program's own work never waits for them.
  void SetNice(int nice) { nice_ = nice; }

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
  std::mutex progress_m_;  // one progress call at a time
  std::deque<std::string> queue_;
  std::string listed_;                       // the last file listed
  std::unordered_set<std::string> in_hand_;  // being read by a worker
  bool exhausted_ = false;
  bool stay_ = false;
  int nice_ = 0;
  std::condition_variable wake_;
  ReadProgress done_;
  std::exception_ptr failure_;
  std::atomic<bool> stop_{false};
  std::vector<std::thread> threads_;
};

}  // namespace kvtread
