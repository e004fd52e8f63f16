// The documents' files kept in a SQLite archive, each against the plainest way of doing the
// same work, in the same run (medians of three rounds each):
// - BM_AttachFile/N: keeping an N-byte file with a new version of its document, against
//   copying the file to another file with the same SHA-256 code in one pass and making the copy
//   durable (fdatasync), as keeping it does: vs_copy_and_hash, peak_rss_mb.
// - BM_ReadFile/N: reading the kept file back checked against the SHA-256 of each piece (hashed
//   on every core), against reading the stored bytes plainly, unchecked, both from the disk (out
//   of the page cache): vs_read, peak_rss_mb; vs_read_warm the same from the page cache, where
//   SHA-256 sets the pace.
// - BM_CheckFiles/N: the fixity check of N kept files of 300 KB, against hashing the same
//   bytes read from one file: vs_hash_only.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/document_files.h"
#include "engine/common/file_store.h"
#include "engine/files/sha256.h"
#include "runtime/dictionary.h"
#include "sample_file.h"

namespace {

using Clock = std::chrono::steady_clock;

double PeakRssMb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

template <class Work>
double Seconds(const Work& work) {
  const auto start = Clock::now();
  work();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A file of `size` bytes that no other round has: its first bytes are the round's number.
void WriteFile(const std::string& path, std::int64_t size, std::uint64_t round) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot write " + path);
  std::mt19937_64 random(42);
  std::string piece(1 << 20, '\0');
  for (std::int64_t left = size; left > 0;) {
    for (std::size_t i = 0; i + 8 <= piece.size(); i += 8) {
      const std::uint64_t r = random();
      std::memcpy(piece.data() + i, &r, 8);
    }
    if (left == size) std::memcpy(piece.data(), &round, sizeof round);
    const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(left, piece.size()));
    if (std::fwrite(piece.data(), 1, n, f) != n) throw std::runtime_error("write failed");
    left -= static_cast<std::int64_t>(n);
  }
  // On the disk before anything is timed: no measured write waits for this one's writeback.
  if (std::fflush(f) != 0 || ::fsync(::fileno(f)) != 0) throw std::runtime_error("sync failed");
  std::fclose(f);
}

// The plainest copy that also names the file: read a piece, hash it, write it; then durable.
void CopyAndHash(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY);
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::string piece(kvtfiles::kPieceBytes, '\0');
  kvtfiles::Sha256 hash;
  for (ssize_t n; (n = ::read(in, piece.data(), piece.size())) > 0;) {
    hash.Update(std::string_view(piece.data(), static_cast<std::size_t>(n)));
    if (::write(out, piece.data(), static_cast<std::size_t>(n)) != n)
      throw std::runtime_error("copy");
  }
  ::fdatasync(out);
  ::close(in);
  ::close(out);
  benchmark::DoNotOptimize(hash.HexDigest());
}

// Keeps the file and names it in document `id`, as documents attach does: one transaction.
void Attach(kvtsqlite::SqliteEngine& engine, std::int32_t id, const std::string& path) {
  engine.Transaction([&] {
    const auto f = kvtengine::KeepFile(engine, path);
    kvtengine::VersionInfo at;
    auto values = std::dynamic_pointer_cast<kvt::Dictionary>(engine.LoadDocumentAt(id, at));
    if (values->Exists("Allegato")) values->Remove("Allegato");
    values->Add("Allegato", kvtfiles::FileRefText({f.sha256, f.name}));
    engine.CorrectDocument(id, values, at.version);
  });
}

std::int32_t NewDocument(kvtsqlite::SqliteEngine& engine) {
  auto values = kvt::Dictionary::Create();
  values->Add("NumeroDocumento", "1001");
  values->Add("Cliente", "ACME");
  return engine.SaveDocument("Fatture", values);
}

std::string Temp(const std::string& name) {
  return (std::filesystem::temp_directory_path() /
          ("kvtfields-files-" + std::to_string(::getpid()) + "-" + name))
      .string();
}

void BM_AttachFile(benchmark::State& state) {
  kvtbench::SampleFile file("attach-bench");
  const std::int64_t size = state.range(0);
  const std::int32_t id = NewDocument(*file.engine);
  const std::string scan = Temp("scan.pdf");
  std::vector<std::string> copies;
  std::vector<double> kept, copied;
  std::uint64_t round = 0;
  for (auto _ : state) {
    for (int r = 0; r < 3; ++r) {
      state.PauseTiming();
      WriteFile(scan, size, ++round);
      state.ResumeTiming();
      // Each goes first in turn, and each starts with the disk at rest: neither pays for what
      // the other left to write back (a virtual disk's rate limit shows here).
      auto rest = [] {
        ::sync();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
      };
      auto attach = [&] {
        rest();
        kept.push_back(Seconds([&] { Attach(*file.engine, id, scan); }));
      };
      if (r % 2 == 0) attach();
      rest();
      // A new file each round, as the archive keeps one: neither writes into pages just freed.
      const std::string copy = Temp("copy-" + std::to_string(r) + ".pdf");
      copies.push_back(copy);
      copied.push_back(Seconds([&] { CopyAndHash(scan, copy); }));
      if (r % 2 == 1) attach();
    }
  }
  std::filesystem::remove(scan);
  for (const auto& copy : copies) std::filesystem::remove(copy);
  state.counters["vs_copy_and_hash"] = Median(kept) / Median(copied);
  state.counters["attach_mb_per_s"] = static_cast<double>(size) / (1 << 20) / Median(kept);
  state.counters["attach_ms"] = Median(kept) * 1000;
  state.counters["copy_ms"] = Median(copied) * 1000;
  state.counters["peak_rss_mb"] = PeakRssMb();
}
BENCHMARK(BM_AttachFile)->Arg(104857600)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_ReadFile(benchmark::State& state) {
  kvtbench::SampleFile file("read-bench");
  const std::int64_t size = state.range(0);
  const std::string scan = Temp("read.pdf");
  WriteFile(scan, size, 1);
  const std::string sha = kvtengine::KeepFile(*file.engine, scan).sha256;
  std::filesystem::remove(scan);
  // A kept file is read when its document is opened, long after it was kept: each round
  // starts with its bytes out of the page cache (both ways alike). Warm, for comparison.
  const std::string kept_path = file.engine->Files().PathOf(sha);
  auto evict = [&] {
    const int fd = ::open(kept_path.c_str(), O_RDONLY);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
  };
  std::vector<double> checked, plain, checked_warm, plain_warm;
  std::int64_t bytes = 0;
  auto read_checked = [&] {
    kvtengine::ReadKeptFile(*file.engine, sha, "", [&](std::string_view p) { bytes += p.size(); });
  };
  auto read_plain = [&] {
    file.engine->ReadFilePieces(sha, [&](std::string_view p) { bytes += p.size(); });
  };
  for (auto _ : state) {
    for (int r = 0; r < 3; ++r) {
      evict();
      checked.push_back(Seconds(read_checked));
      evict();
      plain.push_back(Seconds(read_plain));
      checked_warm.push_back(Seconds(read_checked));
      plain_warm.push_back(Seconds(read_plain));
    }
  }
  benchmark::DoNotOptimize(bytes);
  state.counters["vs_read"] = Median(checked) / Median(plain);
  state.counters["vs_read_warm"] = Median(checked_warm) / Median(plain_warm);
  state.counters["read_mb_per_s"] = static_cast<double>(size) / (1 << 20) / Median(checked);
  state.counters["plain_ms"] = Median(plain) * 1000;
  state.counters["checked_ms"] = Median(checked) * 1000;
  state.counters["peak_rss_mb"] = PeakRssMb();
}
BENCHMARK(BM_ReadFile)->Arg(104857600)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_CheckFiles(benchmark::State& state) {
  constexpr std::int64_t kFileBytes = 300 * 1024;
  kvtbench::SampleFile file("check-bench");
  const std::int64_t n = state.range(0);
  const std::string scan = Temp("check.pdf");
  file.engine->Transaction([&] {
    for (std::int64_t i = 0; i < n; ++i) {
      WriteFile(scan, kFileBytes, static_cast<std::uint64_t>(i));
      kvtengine::KeepFile(*file.engine, scan);
    }
  });
  // The same number of bytes in one plain file, hashed straight from it.
  const std::string all = Temp("all.bin");
  WriteFile(all, n * kFileBytes, 0);
  std::vector<double> checks, hashes;
  for (auto _ : state) {
    for (int r = 0; r < 3; ++r) {
      checks.push_back(Seconds([&] {
        const auto check = kvtapp::CheckKeptFiles(*file.engine, "", nullptr);
        if (check.files != n || !check.problems.empty()) throw std::runtime_error("check failed");
      }));
      hashes.push_back(Seconds([&] {
        const int in = ::open(all.c_str(), O_RDONLY);
        std::string piece(kFileBytes, '\0');
        kvtfiles::Sha256 hash;
        for (ssize_t got; (got = ::read(in, piece.data(), piece.size())) > 0;) {
          hash.Update(std::string_view(piece.data(), static_cast<std::size_t>(got)));
        }
        ::close(in);
        benchmark::DoNotOptimize(hash.HexDigest());
      }));
    }
  }
  std::filesystem::remove(scan);
  std::filesystem::remove(all);
  state.counters["vs_hash_only"] = Median(checks) / Median(hashes);
  state.counters["files_per_s"] = static_cast<double>(n) / Median(checks);
}
BENCHMARK(BM_CheckFiles)->Arg(10000)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
