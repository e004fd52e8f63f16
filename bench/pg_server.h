// A throw-away PostgreSQL server for the length of a benchmark program (scripts/pg-server.sh);
// an empty conninfo when none could start.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>

namespace kvtbench {

struct PgServer {
  std::string dir = "/tmp/kvtpg-bench-" + std::to_string(::getpid());
  std::string conninfo;
  bool kept = false;
  PgServer() { Start("start"); }
  // A server whose data stays in `kept_dir` between runs (a large generated archive).
  explicit PgServer(std::string kept_dir) : dir(std::move(kept_dir)), kept(true) {
    Start("resume");
  }
  ~PgServer() { (void)std::system((Script() + (kept ? " pause " : " stop ") + dir).c_str()); }
  PgServer(const PgServer&) = delete;
  PgServer& operator=(const PgServer&) = delete;

 private:
  void Start(const char* how) {
    if (std::system((Script() + " " + how + " " + dir + " >/dev/null").c_str()) != 0) return;
    std::ifstream in(dir + "/conninfo");
    std::getline(in, conninfo);
  }
  static std::string Script() { return std::string(KVT_SOURCE_DIR) + "/scripts/pg-server.sh"; }
};

}  // namespace kvtbench
