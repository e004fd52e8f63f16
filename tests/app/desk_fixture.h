// The desk on the sample archive, on a file or (the parameter true) on a new database of the
// test PostgreSQL server, with message boxes recorded instead of shown.
#pragma once

#include <QApplication>
#include <memory>
#include <string>

#include "archives/sample_archive.h"
#include "common/open_engine.h"
#include "desk_window.h"
#include "host/qt/qt_desktop.h"
#include "pg_test_server.h"
#include "temp_dir.h"
#include "test_support.h"

namespace kvtdesk {

class DeskOnSample : public ::testing::TestWithParam<bool> {
 protected:
  // The sample's entry form in a window of `width` × `height`, shown.
  void OpenDesk(int width, int height) {
    if (GetParam()) {
      KVT_REQUIRE_PG();
      db_ = kvt::testing::FreshPgDatabase();
    }
    kvtarchive::sample::CreateSampleArchive(*kvtapp::OpenEngine(db_, /*create=*/true));
    desktop_ = kvthost::qt::QtDesktop::Install(kvthost::qt::QtDesktop::Messages::kRecord);
    window_ = std::make_unique<DeskWindow>(db_, kvtarchive::sample::kArchive,
                                           kvtarchive::sample::kEntryForm);
    window_->resize(width, height);
  }
  void TearDown() override {
    window_.reset();
    QApplication::processEvents();
    if (desktop_) desktop_->Uninstall();
  }

  kvt::testing::TempDir dir_;
  std::string db_ = dir_.File("fatture.kvtdb");
  std::shared_ptr<kvthost::qt::QtDesktop> desktop_;
  std::unique_ptr<DeskWindow> window_;
};

}  // namespace kvtdesk
