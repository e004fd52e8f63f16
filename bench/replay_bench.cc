// A clerk's morning replayed on the desk (Qt, offscreen): a generated stack of scanned pages
// (documents of four kinds from twelve suppliers, with noise and skew, blank sheets between)
// is taken in, then a scripted person files each document from the intake queue. For each of
// its five fields the person accepts a value proposed right (Tab), types over one proposed
// wrong, clicks the value's word or drags a box over its words where it is printed, and types
// it where it is not, or where the page gave something else. Counted: the actions per field,
// the share of fields that came up right from a supplier's third document on, the stored
// values against the truth, and how long the person waited for the program.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDockWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "archives/sample_archive.h"
#include "common/open_engine.h"
#include "desk_window.h"
#include "document_generator.h"
#include "engine/sqlite/sqlite_engine.h"
#include "host/qt/qt_desktop.h"
#include "reading/intake.h"
#include "reading/page_reader.h"
#include "runtime/dictionary.h"
#include "runtime/text.h"
#include "scanned_stack.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr std::uint64_t kSeed = 23;
constexpr double kPointsWide = 595.0;  // A4
// A quick clerk's pace: the time between one action's end and the next, not counted as waiting.
constexpr int kThinkMs = 150;

// The stack taken in once, kept between runs: generating and reading 200 pages takes minutes,
// and what is measured here is the person's time. A new generator needs a new name.
fs::path TakenInStack(int documents, int& pages) {
  const fs::path dir = fs::temp_directory_path() / ("kvt-replay-v2-" + std::to_string(documents));
  const fs::path ready = dir / "pagine";
  if (std::ifstream in(ready); in >> pages) return dir;
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string stack = (dir / "pila.pdf").string();
  pages = kvttestdata::WriteStackPdf(stack, documents, kSeed).pages;
  const std::string db = (dir / "archivio.kvtdb").string();
  {
    auto engine = kvtapp::OpenEngine(db, true);
    kvtarchive::sample::CreateSampleArchive(*engine);
    std::vector<std::unique_ptr<kvtread::Ocr>> ocrs;
    std::vector<kvtread::Ocr*> readers;
    for (unsigned i = 0; i < std::max(1u, std::thread::hardware_concurrency()); ++i) {
      readers.push_back(ocrs.emplace_back(std::make_unique<kvtread::Ocr>()).get());
    }
    const auto in = kvtread::TakeIn(*engine, readers, kvtarchive::sample::kArchive, stack,
                                    kvtread::Split::kBlankPages);
    if (in.documents != documents) {
      throw std::runtime_error("the stack gave " + std::to_string(in.documents) + " documents");
    }
  }
  fs::remove(stack);
  std::ofstream(ready) << pages << "\n";
  return dir;
}

// The person at the desk: every call is one thing a person does, timed until the program is
// idle again.
class Person {
 public:
  explicit Person(kvtdesk::DeskWindow& w) : w_(w) {}
  double waited_ms = 0;
  int actions = 0;

  kvthost::IPerson& Hands() { return w_.Work()->Person(); }
  std::string Value(const std::string& field) {
    return kvt::JoinText(w_.Work()->Fields().Item(kvt::Variant(field))->Value());
  }
  // One action, its time counted.
  template <class F>
  void Act(F&& f, const char* what = "act") {
    ++actions;
    Timed(f, what);
    QTest::qWait(kThinkMs);
  }
  template <class F>
  void Timed(F&& f, const char* what = "act") {
    const auto start = Clock::now();
    f();
    QApplication::processEvents();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    waited_ms += ms;
    by_kind[what] += ms;
  }
  std::map<std::string, double> by_kind;  // the waiting after each kind of action
  // Waits, counted, until the next document's page is shown with its words.
  bool PageShown() {
    const auto start = Clock::now();
    const bool shown = QTest::qWaitFor([&] { return !w_.Preview()->Words().empty(); }, 20000);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    waited_ms += ms;
    by_kind["page"] += ms;
    return shown;
  }
  // Where the eye finds the value printed in `place` (points on the first page): the shown
  // words whose middle lies there, give or take the sheet's skew.
  std::vector<QRect> WordsAt(const QRectF& place) {
    const double scale = w_.Preview()->Picture().width() / kPointsWide;
    const QRectF on_picture(place.left() * scale, place.top() * scale, place.width() * scale,
                            place.height() * scale);
    const QRectF near = on_picture.adjusted(-4 * scale, -5 * scale, 4 * scale, 5 * scale);
    std::vector<QRect> found;
    for (const auto& word : w_.Preview()->Words()) {
      if (near.contains(word.box.center())) found.push_back(word.box);
    }
    return found;
  }
  void Mouse(QEvent::Type type, QPoint on_picture) {
    QWidget* view = w_.Preview()->PageView();
    const QPoint at = w_.Preview()->OnScreen(on_picture);
    QMouseEvent e(type, at, view->mapToGlobal(at), Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                  Qt::NoModifier);
    QApplication::sendEvent(view, &e);
  }
  // A click on one word, or a box dragged over several.
  void Take(const std::vector<QRect>& words) {
    Act(
        [&] {
          if (words.size() == 1) {
            Mouse(QEvent::MouseButtonPress, words.front().center());
            Mouse(QEvent::MouseButtonRelease, words.front().center());
            return;
          }
          QRect all = words.front();
          for (const auto& r : words) all = all.united(r);
          const QPoint from = all.topLeft() - QPoint(3, 3), to = all.bottomRight() + QPoint(3, 3);
          Mouse(QEvent::MouseButtonPress, from);
          Mouse(QEvent::MouseMove, (from + to) / 2);
          Mouse(QEvent::MouseMove, to);
          Mouse(QEvent::MouseButtonRelease, to);
        },
        words.size() == 1 ? "click" : "box");
  }
  // The value typed whole, as the field's kind takes it.
  void TypeIn(const std::string& field, const std::string& value) {
    Act(
        [&] {
          auto& hands = Hands();
          if (field == "TipoDocumento") {
            hands.Choose(value);
          } else if (field == "DataDocumento") {
            const int d = std::stoi(value.substr(0, 2)), m = std::stoi(value.substr(3, 2));
            hands.PickDate(kvt::Variant(kvt::MakeDate(std::stoi(value.substr(6)), m, d)));
          } else {
            hands.Clear();
            hands.Type(value);
          }
        },
        "type");
  }

 private:
  kvtdesk::DeskWindow& w_;
};

void BM_ClerkReplay(benchmark::State& state) {
  const int documents = static_cast<int>(state.range(0));
  int pages = 0;
  const fs::path cache = TakenInStack(documents, pages);
  std::vector<kvttestdata::Document> truth;
  for (int n = 1; n <= documents; ++n) truth.push_back(kvttestdata::MakeStackDocument(kSeed, n));
  // Each document's first page in the stack, to tell which the desk brought.
  std::map<int, int> by_first_page;
  for (int n = 0, page = 1; n < documents; ++n) {
    by_first_page[page] = n;
    page += truth[static_cast<std::size_t>(n)].pages + 1;
  }
  const fs::path work = fs::temp_directory_path() / ("kvt-replay-" + std::to_string(::getpid()));
  double waited = 0, fields = 0, actions = 0, later = 0, later_right = 0, stored = 0,
         stored_right = 0, filed = 0;
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(work);
    fs::create_directories(work);
    for (const auto& e : fs::directory_iterator(cache)) {
      fs::copy(e.path(), work / e.path().filename(), fs::copy_options::recursive);
    }
    const std::string db = (work / "archivio.kvtdb").string();
    state.ResumeTiming();
    auto desktop = kvthost::qt::QtDesktop::Install(kvthost::qt::QtDesktop::Messages::kRecord);
    auto window = std::make_unique<kvtdesk::DeskWindow>(db, kvtarchive::sample::kArchive,
                                                        kvtarchive::sample::kEntryForm);
    window->resize(1400, 900);
    window->PreviewDock()->show();
    window->show();
    QApplication::processEvents();
    Person person(*window);
    const bool trace = std::getenv("KVT_REPLAY_TRACE") != nullptr;  // each miss said
    std::map<int, int> seen;                             // documents of each supplier filed so far
    std::vector<std::pair<int, std::int64_t>> filed_as;  // truth index, intake item
    person.Timed([&] { window->TakeIntake(); });
    for (int k = 0; k < documents; ++k) {
      if (!window->Entry().Intake() || !person.PageShown()) {
        state.SkipWithError("the next document did not come up");
        return;
      }
      const auto it = by_first_page.find(window->Entry().Intake()->first_page);
      if (it == by_first_page.end()) {
        state.SkipWithError("the desk brought pages that begin no document");
        return;
      }
      const auto& d = truth[static_cast<std::size_t>(it->second)];
      const auto proposed = window->Proposals();
      const bool known = seen[d.supplier] >= 2;
      for (const auto& [field, value] : d.fields) {
        const bool printed = field != "TipoDocumento";
        ++fields;
        if (known && printed) {
          ++later;
          later_right += person.Value(field) == value;
          if (trace && person.Value(field) != value) {
            std::string words;
            for (const auto& [name, where] : d.places) {
              if (name != field) continue;
              for (const auto& w : window->Preview()->Words()) {
                const double scale = window->Preview()->Picture().width() / kPointsWide;
                if (where.adjusted(-60, -20, 60, 20).contains(QPointF(w.box.center()) / scale)) {
                  words += " [" + w.text.toStdString() + "]";
                }
              }
            }
            std::fprintf(stderr, "%s s%d %s: came up '%s', is '%s'%s; near:%s\n", d.stem.c_str(),
                         d.supplier, field.c_str(), person.Value(field).c_str(), value.c_str(),
                         proposed.count(field) ? " (proposed)" : "", words.c_str());
          }
        }
        auto& hands = person.Hands();
        hands.Focus(field);  // moving there is not counted: Tab would take the clerk there too
        if (proposed.count(field) && person.Value(field) == value) {
          person.Act([&] { hands.Tab(); });
          continue;
        }
        if (!proposed.count(field) && person.Value(field) == value) continue;  // carried
        // Proposed wrong or not at all: taken from the page where it is printed (which teaches
        // the desk the place), typed where it is not or the page gave something else.
        if (printed) {
          QRectF place;
          for (const auto& [name, where] : d.places) {
            if (name == field) place = where;
          }
          const auto words = person.WordsAt(place);
          if (!words.empty()) {
            person.Take(words);
            if (person.Value(field) == value) continue;
          }
        }
        person.TypeIn(field, value);
      }
      // A value proposed for a field this document leaves empty is taken away.
      for (const auto& [field, value] : proposed) {
        if (d.Value(field).empty() && person.Value(field) == value) {
          person.Hands().Focus(field);
          person.Act([&] { person.Hands().Clear(); });
        }
      }
      ++seen[d.supplier];
      const std::int64_t item = window->Entry().Intake()->id;
      bool saved = false;
      person.Timed([&] { saved = window->Save(); }, "save");
      if (!saved) {
        state.SkipWithError(("not saved: " + window->StatusText().toStdString()).c_str());
        return;
      }
      filed_as.emplace_back(it->second, item);
    }
    actions += person.actions;
    if (trace) {
      for (const auto& [what, ms] : person.by_kind)
        std::fprintf(stderr, "%s %.0f ms\n", what.c_str(), ms);
    }
    waited = person.waited_ms;
    state.PauseTiming();
    window.reset();
    desktop->Uninstall();
    // What was stored, against what the pages say.
    auto engine = kvtapp::OpenEngine(db, false);
    std::map<std::int64_t, std::int32_t> document_of;
    for (const auto& i : engine->IntakeLedger(kvtarchive::sample::kArchive)) {
      document_of[i.id] = i.document;
    }
    for (const auto& [index, item] : filed_as) {
      const auto doc =
          std::dynamic_pointer_cast<kvt::Dictionary>(engine->LoadDocument(document_of[item]));
      ++filed;
      for (const auto& [field, value] : truth[static_cast<std::size_t>(index)].fields) {
        ++stored;
        stored_right += doc && kvt::JoinText(doc->Item(field)) == value;
      }
    }
    state.ResumeTiming();
  }
  fs::remove_all(work);
  state.counters["wait_ms"] = waited;
  state.counters["actions_per_field"] = fields ? actions / fields : 0;
  state.counters["proposed_right"] = later ? later_right / later : 0;
  state.counters["stored_right"] = stored ? stored_right / stored : 0;
  state.counters["documents"] = filed / static_cast<double>(state.iterations());
  state.counters["pages"] = pages;
}
BENCHMARK(BM_ClerkReplay)->Arg(50)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  // KVT_REPLAY_LOOK=dir: the first documents' first pages as scanned, with the places the
  // person looks for the values drawn in red, to see the generator and the person agree.
  if (const char* look = std::getenv("KVT_REPLAY_LOOK")) {
    for (int n = 1; n <= 4; ++n) {
      const auto d = kvttestdata::MakeStackDocument(kSeed, n);
      QImage page = kvttestdata::Scan(d, 300, static_cast<std::uint64_t>(n))
                        .front()
                        .convertToFormat(QImage::Format_RGB32);
      QPainter p(&page);
      p.scale(page.width() / kPointsWide, page.width() / kPointsWide);
      p.setPen(Qt::red);
      for (const auto& [field, place] : d.places) p.drawRect(place);
      p.end();
      page.copy(0, 0, page.width(), page.height() * 2 / 5)
          .scaledToWidth(1240, Qt::SmoothTransformation)
          .save(QString("%1/pagina-%2.png").arg(look).arg(n));
    }
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
