#include "engine/files/hash_pipe.h"

namespace kvtfiles {

HashPipe::HashPipe() : thread_([this] { Run(); }) {}

HashPipe::~HashPipe() {
  {
    std::lock_guard lock(m_);
    stop_ = true;
  }
  work_.notify_one();
  thread_.join();
}

void HashPipe::Add(std::string_view piece) {
  std::string buffer = Spare();
  buffer.assign(piece);
  Add(std::move(buffer));
}

void HashPipe::Add(std::string&& piece) {
  std::unique_lock lock(m_);
  room_.wait(lock, [&] { return queued_ == 0 || queued_ + piece.size() <= kMaxQueued; });
  queued_ += piece.size();
  tasks_.push_back({std::move(piece), nullptr});
  lock.unlock();
  work_.notify_one();
}

std::string HashPipe::Spare() {
  std::lock_guard lock(m_);
  if (spare_.empty()) return {};
  std::string buffer = std::move(spare_.back());
  spare_.pop_back();
  return buffer;
}

std::future<std::string> HashPipe::End() {
  std::unique_lock lock(m_);
  std::promise<std::string>& end = ends_.emplace_back();
  std::future<std::string> digest = end.get_future();
  tasks_.push_back({{}, &end});
  lock.unlock();
  work_.notify_one();
  return digest;
}

void HashPipe::Run() {
  Sha256 hash;
  std::unique_lock lock(m_);
  for (;;) {
    work_.wait(lock, [&] { return stop_ || !tasks_.empty(); });
    if (tasks_.empty()) return;  // stopped, nothing left
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    lock.unlock();
    std::string digest;
    if (task.end) {
      digest = hash.HexDigest();
    } else {
      hash.Update(task.bytes);
    }
    lock.lock();
    if (task.end) {
      task.end->set_value(std::move(digest));
      ends_.pop_front();  // the oldest end is this one: ends are hashed in order
    } else {
      queued_ -= task.bytes.size();
      if (spare_.size() < 10) spare_.push_back(std::move(task.bytes));  // a queue's worth
      room_.notify_all();
    }
  }
}

}  // namespace kvtfiles
