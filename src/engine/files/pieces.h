// A large kept file is checked piece by piece: each kPieceBytes piece has its own SHA-256, worked
// out from the same bytes as the file's digest when it was kept. A read hashes its pieces on
// several cores at once (one core's SHA-256 is slower than a disk) and hands a piece on only
// once it is checked.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/files/sha256.h"

namespace kvtfiles {

/// The bytes of one digest in a list of piece digests.
inline constexpr std::size_t kDigestBytes = 32;

/// Whether `digests` lists every piece of a file of `size` bytes (and there is more than one).
bool PieceDigestsFit(std::string_view digests, std::int64_t size);

/// The piece digests of bytes given in parts of any length.
class PieceDigests {
 public:
  /// Adds the next bytes.
  void Add(std::string_view bytes);
  /// The list, the last piece's digest included; starts over after.
  std::string End();

 private:
  Sha256 piece_;
  std::size_t in_piece_ = 0;
  std::string list_;
};

/// Checks a file's bytes against its piece digests on a few threads and hands them on, checked,
/// in order, on the caller's thread.
class PieceCheck {
 public:
  /// `digests` fits a file of `size` bytes (PieceDigestsFit); `each` gets the checked pieces.
  PieceCheck(std::string digests, std::int64_t size, std::function<void(std::string_view)> each);
  /// Stops the threads; what was not checked is not handed on.
  ~PieceCheck();
  PieceCheck(const PieceCheck&) = delete;
  PieceCheck& operator=(const PieceCheck&) = delete;

  /// A buffer to read the next bytes into.
  std::string Spare();
  /// The next bytes, cut anywhere. False once a piece did not match: reading can stop.
  bool Add(std::string&& bytes);
  /// Hands on the last pieces once checked. True when every piece matched and the bytes were
  /// as many as the file's.
  bool End();

  /// The most pieces read and not yet handed on (their memory).
  static constexpr std::size_t kMaxPieces = 8;

 private:
  enum class State { kQueued, kHashing, kGood, kBad };
  struct Piece {
    std::string bytes;
    State state = State::kQueued;
  };
  void Submit(std::string&& piece);
  // Hands on the checked pieces at the front; false once one did not match.
  bool Deliver(std::unique_lock<std::mutex>& lock);
  void Run();

  const std::string digests_;
  const std::int64_t size_;
  const std::function<void(std::string_view)> each_;
  std::string partial_;        // bytes of a piece not yet whole
  std::int64_t received_ = 0;  // bytes given to Add
  std::mutex m_;
  std::condition_variable work_, done_;
  std::deque<Piece> pieces_;  // read, not yet handed on; the front is piece `first_`
  std::size_t first_ = 0;
  std::size_t next_ = 0;  // the next piece to hash
  std::vector<std::string> spare_;
  bool bad_ = false;
  bool stop_ = false;
  std::vector<std::thread> threads_;  // last: start after the members they use
};

}  // namespace kvtfiles
