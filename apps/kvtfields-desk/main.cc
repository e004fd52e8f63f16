// kvtfields-desk: the desktop program on Qt 6 Widgets. With no arguments it opens the database,
// archive and form used last; the first time, the sample invoice archive (kvtfields-demo.kvtdb
// in the current folder, made then). With --demo
// DIR it plays the demo session on the window system in use (offscreen on a server), prints
// the form after each step and saves a picture of the window in DIR.
#include <CLI/CLI.hpp>
#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QSaveFile>
#include <cstdio>
#include <string>

#include "archives/sample_archive.h"
#include "common/demo_session.h"
#include "common/open_engine.h"
#include "desk_window.h"
#include "host/qt/qt_desktop.h"
#include "kvtfields/kvtfields.h"
#include "runtime/error.h"
#include "runtime/object.h"

namespace {

constexpr const char* kDefaultDb = "kvtfields-demo.kvtdb";  // the sample, made when missing

struct Options {
  bool given = false;  // a place named on the command line
  std::string db = kDefaultDb;
  std::string archive = kvtarchive::sample::kArchive;
  std::string form = kvtarchive::sample::kEntryForm;
  std::string demo;
};

// A file name for a step's picture: its number and the first words of its title.
std::string ShotName(int n, const std::string& title) {
  std::string slug;
  for (char c : title) {
    if (slug.size() >= 40) break;
    const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (keep) {
      slug += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    } else if (!slug.empty() && slug.back() != '-') {
      slug += '-';
    }
  }
  while (!slug.empty() && slug.back() == '-') slug.pop_back();
  return (n < 10 ? "0" : "") + std::to_string(n) + "-" + slug + ".png";
}

int Demo(const Options& o) {
  auto desktop = kvthost::qt::QtDesktop::Install(kvthost::qt::QtDesktop::Messages::kRecord);
  desktop->on_message = [](const kvthost::qt::QtDesktop::Message& m) {
    std::printf("[messaggio] %s\n", m.prompt.c_str());
  };
  int result = 0;
  {
    kvtapp::EntrySession e(kvtdesk::QtPersonOn());
    std::printf("kvtfields-desk %s: demo on %s, archive %s, form %s, pictures in %s\n",
                kvtfields::FileVersion(), kvtapp::Shown(o.db).c_str(), o.archive.c_str(),
                o.form.c_str(), o.demo.c_str());
    e.Open(o.db, o.archive, o.form, /*create=*/true);
    kvtapp::Workspace& w = *e.Work();
    auto form = std::dynamic_pointer_cast<kvthost::qt::QtForm>(w.WindowRef());
    // The pictures show the error list's latest message in a panel of the status bar.
    const kvt::ObjectRef panels = kvt::CObj(kvt::GetProperty(form->FindControl("SB"), "Panels"));
    const kvt::ObjectRef error_panel = kvt::CObj(kvt::CallMethod(panels, "Add", "errore"));
    w.Host().Errors().on_add = [error_panel](const kvthost::ErrorList::Entry& e) {
      kvt::LetProperty(error_panel, "Text", e.message);
    };
    form->Show();
    form->Window()->activateWindow();
    QApplication::processEvents();
    e.Start();
    QDir().mkpath(QString::fromStdString(o.demo));
    int n = 0;
    bool shots_failed = false;
    // Whole or not at all: a picture cut short by a full disk is no picture.
    auto save = [&](const QPixmap& picture, const std::string& title) {
      const std::string file = o.demo + "/" + ShotName(++n, title);
      QSaveFile out(QString::fromStdString(file));
      if (!out.open(QIODevice::WriteOnly) || !picture.save(&out, "PNG") || !out.commit()) {
        std::fprintf(stderr, "kvtfields-desk: cannot write '%s': %s\n", file.c_str(),
                     out.errorString().toStdString().c_str());
        shots_failed = true;
      }
      return file;
    };
    result = kvtapp::PlayDemo(e, [&](const std::string& title) {
      kvtdesk::MarkRequiredFields(w);  // as the desk shows its forms
      QApplication::processEvents();
      const std::string file = save(form->Window()->grab(), title);
      std::printf("\n== %s\n%s   [%s]\n", title.c_str(), w.Picture().c_str(), file.c_str());
      std::fflush(stdout);
      kvt::LetProperty(error_panel, "Text", "");
    });
    // What the desk asks before a change typed into the form would be lost.
    if (result == 0) w.Person().Type("7");
    const kvtapp::Reply asked = result == 0 ? e.New() : kvtapp::Reply{};
    if (result == 0 && !asked.question) result = 1;  // the change was lost without a question
    if (asked.question) {
      auto shown = kvthost::qt::QtDesktop::MakeBox(asked.question->text, asked.question->buttons,
                                                   "kvtfields", form->Window());
      shown.box->show();
      QApplication::processEvents();
      QPixmap picture = form->Window()->grab();
      const QPixmap question = shown.box->grab();
      shown.box->hide();
      QPainter painter(&picture);
      painter.fillRect(picture.rect(), QColor(0, 0, 0, 48));
      painter.drawPixmap((picture.width() - question.width()) / 2,
                         (picture.height() - question.height()) / 3, question);
      painter.end();
      const std::string title = "Nuovo documento con modifiche non salvate: la domanda";
      const std::string file = save(picture, title);
      std::printf("\n== %s\n[domanda] %s   [%s]\n", title.c_str(), asked.question->text.c_str(),
                  file.c_str());
      (void)e.Answer(kvt::kMsgBoxAnswerCancel);  // the document stays as it is
    }
    if (shots_failed && result == 0) result = 2;
  }
  desktop->Uninstall();
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  CLI::App cli{
      "kvtfields-desk: the desktop program. With no arguments it opens the database, "
      "archive and form used last.",
      "kvtfields-desk"};
  const auto* db = cli.add_option("--db", o.db,
                                  "a file (default kvtfields-demo.kvtdb, the sample, made when "
                                  "missing) or a PostgreSQL connection string "
                                  "(postgresql://user@host/database)");
  const auto* archive = cli.add_option("--archive", o.archive,
                                       "the archive to enter documents into (default Fatture)");
  const auto* form = cli.add_option("--form", o.form, "its entry form (default Inserimento)");
  cli.add_option("--demo", o.demo,
                 "play the demo session, print each step and save its picture in DIR")
      ->type_name("DIR");
  try {
    cli.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return cli.exit(e);
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "kvtfields-desk: %s (try --help)\n", e.what());
    return 2;
  }
  o.given = db->count() + archive->count() + form->count() > 0;
  QApplication app(argc, argv);
  QApplication::setApplicationName("kvtfields");
  kvtdesk::SpeakItalian();  // without Qt's translations its own buttons stay in English
  try {
    if (!o.demo.empty()) return Demo(o);
    if (const auto last = kvtdesk::DeskWindow::LastPlace(); last && !o.given) {
      o.db = last->db;
      o.archive = last->archive;
      o.form = last->form;
    }
    auto desktop = kvthost::qt::QtDesktop::Install(kvthost::qt::QtDesktop::Messages::kShow);
    int code = 0;
    {
      kvtdesk::DeskWindow window(o.db, o.archive, o.form, /*make_sample=*/o.db == kDefaultDb);
      window.PlaceOnScreen();
      window.show();
      code = QApplication::exec();
    }
    desktop->Uninstall();
    return code;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kvtfields-desk: %s\n", e.what());
    return 2;
  }
}
