// SHA-256 worked out on a thread of its own while the caller goes on reading: a kept file is
// checked as fast as it is read, not at the pace of reading plus hashing.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <future>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/files/sha256.h"

namespace kvtfiles {

class HashPipe {
 public:
  HashPipe();
  /// Waits for what was added, then stops the thread.
  ~HashPipe();
  HashPipe(const HashPipe&) = delete;
  HashPipe& operator=(const HashPipe&) = delete;

  /// Adds the next bytes of the current file (copied; waits while kMaxQueued bytes are queued).
  void Add(std::string_view piece);
  /// The same without a copy: the piece is the pipe's from now on.
  void Add(std::string&& piece);
  /// A buffer to read the next piece into: one the pipe is done with, or a new one.
  std::string Spare();
  /// Ends the current file: its digest (64 hex digits) once every piece is hashed. The next
  /// Add starts another file.
  std::future<std::string> End();

  /// The most bytes waiting to be hashed at once.
  static constexpr std::size_t kMaxQueued = 8 << 20;

 private:
  struct Task {
    std::string bytes;                         // a piece, or
    std::promise<std::string>* end = nullptr;  // the end of a file
  };
  void Run();
  std::mutex m_;
  std::condition_variable work_, room_;
  std::deque<Task> tasks_;
  std::deque<std::promise<std::string>> ends_;  // kept here until their file is hashed
  std::vector<std::string> spare_;              // buffers to reuse
  std::size_t queued_ = 0;
  bool stop_ = false;
  std::thread thread_;  // last: starts after the members it uses
};

}  // namespace kvtfiles
