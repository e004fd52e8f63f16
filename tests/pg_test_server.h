// The PostgreSQL server a test program's ctest fixture started (scripts/pg-server.sh), and a
// new empty database on it for each test that asks.
#pragma once

#include <libpq-fe.h>
#include <unistd.h>

#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>

namespace kvt::testing {

/// The server's connection string, or nullopt when no server runs for the program (outside
/// ctest, or a program without the fixture).
inline std::optional<std::string> PgServer() {
#ifdef KVT_PG_CONNINFO_FILE
  std::ifstream in(KVT_PG_CONNINFO_FILE);
#else
  std::ifstream in;
#endif
  std::string conninfo;
  if (!std::getline(in, conninfo) || conninfo.empty()) return std::nullopt;
  return conninfo;
}

/// A new, empty database on the server; its connection string.
inline std::string FreshPgDatabase() {
  static int n = 0;
  const std::string server = *PgServer();
  const std::string name = "kvt_" + std::to_string(::getpid()) + "_" + std::to_string(++n);
  PGconn* admin = PQconnectdb(server.c_str());
  PGresult* r = PQexec(admin, ("CREATE DATABASE " + name).c_str());
  const bool made = PQresultStatus(r) == PGRES_COMMAND_OK;
  const std::string why = made ? "" : PQerrorMessage(admin);
  PQclear(r);
  PQfinish(admin);
  if (!made) throw std::runtime_error("cannot make a test database on " + server + ": " + why);
  return server.substr(0, server.rfind("dbname=")) + "dbname=" + name;
}

}  // namespace kvt::testing

/// Skips the test when no server was started for it.
#define KVT_REQUIRE_PG() \
  if (!kvt::testing::PgServer()) GTEST_SKIP() << "no PostgreSQL test server: run under ctest"
