// The sample archive in a temporary SQLite file, for the length of a benchmark program.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "archives/sample_archive.h"
#include "engine/sqlite/sqlite_engine.h"

namespace kvtbench {

struct SampleFile {
  std::string path;
  std::shared_ptr<kvtsqlite::SqliteEngine> engine;

  explicit SampleFile(const std::string& tag) {
    path = (std::filesystem::temp_directory_path() /
            ("kvtfields-" + tag + "-" + std::to_string(::getpid()) + ".kvtdb"))
               .string();
    engine = kvtsqlite::SqliteEngine::Open(path);
    kvtarchive::sample::CreateSampleArchive(*engine);
  }
  ~SampleFile() {
    engine.reset();
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
    // The documents' files and their pictures are kept beside the database.
    std::error_code ignored;
    for (const char* suffix : {".files", ".pdfs"})
      std::filesystem::remove_all(path + suffix, ignored);
  }
  SampleFile(const SampleFile&) = delete;
  SampleFile& operator=(const SampleFile&) = delete;
};

}  // namespace kvtbench
