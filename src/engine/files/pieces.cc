#include "engine/files/pieces.h"

#include <algorithm>

#include "engine/files/stored_file.h"

namespace kvtfiles {
namespace {

std::size_t PiecesOf(std::int64_t size) {
  return static_cast<std::size_t>((size + static_cast<std::int64_t>(kPieceBytes) - 1) /
                                  static_cast<std::int64_t>(kPieceBytes));
}

// The buffers of the last check, kept for the next one: fresh memory costs a fault per page,
// which every large read would otherwise pay again for each of its pieces' buffers.
std::mutex kept_buffers_m;
std::vector<std::string> kept_buffers;

}  // namespace

bool PieceDigestsFit(std::string_view digests, std::int64_t size) {
  const std::size_t pieces = size > 0 ? PiecesOf(size) : 0;
  return pieces > 1 && digests.size() == pieces * kDigestBytes;
}

void PieceDigests::Add(std::string_view bytes) {
  while (!bytes.empty()) {
    const std::size_t n = std::min(bytes.size(), kPieceBytes - in_piece_);
    piece_.Update(bytes.substr(0, n));
    bytes.remove_prefix(n);
    in_piece_ += n;
    if (in_piece_ == kPieceBytes) {
      list_ += piece_.Digest();
      in_piece_ = 0;
    }
  }
}

std::string PieceDigests::End() {
  if (in_piece_ > 0) list_ += piece_.Digest();
  in_piece_ = 0;
  return std::move(list_);
}

PieceCheck::PieceCheck(std::string digests, std::int64_t size,
                       std::function<void(std::string_view)> each)
    : digests_(std::move(digests)), size_(size), each_(std::move(each)) {
  // One core reads; the hashing is spread over the others, and over that one while it waits.
  const unsigned cores = std::max(1u, std::min(4u, std::thread::hardware_concurrency()));
  for (unsigned i = 0; i < cores; ++i) threads_.emplace_back([this] { Run(); });
  std::lock_guard lock(kept_buffers_m);
  spare_ = std::move(kept_buffers);
  kept_buffers.clear();
}

PieceCheck::~PieceCheck() {
  {
    std::lock_guard lock(m_);
    stop_ = true;
  }
  work_.notify_all();
  for (auto& t : threads_) t.join();
  std::lock_guard lock(kept_buffers_m);
  if (kept_buffers.empty()) kept_buffers = std::move(spare_);
}

std::string PieceCheck::Spare() {
  std::lock_guard lock(m_);
  if (spare_.empty()) return {};
  std::string buffer = std::move(spare_.back());
  spare_.pop_back();
  return buffer;
}

bool PieceCheck::Add(std::string&& bytes) {
  received_ += static_cast<std::int64_t>(bytes.size());
  if (partial_.empty() && bytes.size() == kPieceBytes) {
    Submit(std::move(bytes));  // as read: no copy
  } else {
    std::string_view rest(bytes);
    while (!rest.empty()) {
      const std::size_t n = std::min(rest.size(), kPieceBytes - partial_.size());
      partial_.append(rest.substr(0, n));
      rest.remove_prefix(n);
      if (partial_.size() == kPieceBytes) {
        Submit(std::move(partial_));
        partial_ = Spare();
        partial_.clear();
      }
    }
  }
  std::unique_lock lock(m_);
  return Deliver(lock);
}

void PieceCheck::Submit(std::string&& piece) {
  std::unique_lock lock(m_);
  for (;;) {
    if (!Deliver(lock)) return;  // a piece did not match: nothing more is worth checking
    if (pieces_.size() < kMaxPieces) break;
    done_.wait(lock);
  }
  pieces_.push_back({std::move(piece), State::kQueued});
  lock.unlock();
  work_.notify_one();
}

bool PieceCheck::Deliver(std::unique_lock<std::mutex>& lock) {
  while (!bad_ && !pieces_.empty() && pieces_.front().state == State::kGood) {
    std::string bytes = std::move(pieces_.front().bytes);
    pieces_.pop_front();
    ++first_;
    lock.unlock();
    each_(bytes);
    lock.lock();
    if (spare_.size() < kMaxPieces) spare_.push_back(std::move(bytes));
  }
  if (!pieces_.empty() && pieces_.front().state == State::kBad) bad_ = true;
  return !bad_;
}

bool PieceCheck::End() {
  if (!partial_.empty()) Submit(std::move(partial_));
  partial_.clear();
  std::unique_lock lock(m_);
  while (Deliver(lock) && !pieces_.empty()) done_.wait(lock);
  return !bad_ && received_ == size_ && first_ == digests_.size() / kDigestBytes;
}

void PieceCheck::Run() {
  std::unique_lock lock(m_);
  for (;;) {
    work_.wait(lock, [&] { return stop_ || next_ < first_ + pieces_.size(); });
    if (stop_) return;
    const std::size_t index = next_++;
    Piece& piece = pieces_[index - first_];  // stays put: only checked pieces leave the front
    piece.state = State::kHashing;
    lock.unlock();
    const bool good = (index + 1) * kDigestBytes <= digests_.size() &&
                      Sha256Bytes(piece.bytes) ==
                          std::string_view(digests_).substr(index * kDigestBytes, kDigestBytes);
    lock.lock();
    piece.state = good ? State::kGood : State::kBad;
    done_.notify_all();
  }
}

}  // namespace kvtfiles
