// A throw-away PostgreSQL server for the length of a benchmark program (scripts/pg-server.sh);
// an empty conninfo when none could start.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace kvtbench {

struct PgServer {
  std::string dir = "/tmp/kvtpg-bench-" + std::to_string(::getpid());
  std::string conninfo;
  PgServer() {
    if (std::system((Script() + " start " + dir + " >/dev/null").c_str()) != 0) return;
    std::ifstream in(dir + "/conninfo");
    std::getline(in, conninfo);
  }
  ~PgServer() { (void)std::system((Script() + " stop " + dir).c_str()); }
  PgServer(const PgServer&) = delete;
  PgServer& operator=(const PgServer&) = delete;

 private:
  static std::string Script() { return std::string(KVT_SOURCE_DIR) + "/scripts/pg-server.sh"; }
};

}  // namespace kvtbench
