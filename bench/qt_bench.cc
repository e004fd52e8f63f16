// A 1,000-field form on the Qt window system, offscreen: 800 text fields and 200 combos of
// 1,000 codes each, built from SQLite and shown. Beside its time it reports, measured in the
// same run, its ratio to a plain QFormLayout with the same widgets filled by addItems
// (vs_naive) and to 1,000 plain QLineEdits in a QFormLayout (vs_plain_edits, the floor: the
// median of five rounds of both taken in turn).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QComboBox>
#include <QDockWidget>
#include <QFormLayout>
#include <QLineEdit>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "addons/layout/resizer.h"
#include "desk_window.h"
#include "engine/common/file_store.h"
#include "host/common/coordinator.h"
#include "host/qt/qt_control.h"
#include "host/qt/qt_desktop.h"
#include "host/qt/qt_person.h"
#include "kvtfields/collection/fields_collection.h"
#include "kvtfields/viewer/field_viewer.h"
#include "quiet.h"
#include "sample_file.h"

namespace {

namespace sample = kvtarchive::sample;
using Clock = std::chrono::steady_clock;
constexpr int kCodes = 1000;

std::string Archive(std::int64_t fields) {
  return "QtScala" + std::to_string(fields);
}

// Every fifth field a combo with kCodes codes; the others text fields.
void CreateArchive(kvtsqlite::SqliteEngine& e, std::int64_t fields) {
  e.Transaction([&] {
    for (std::int64_t i = 1; i <= fields; ++i) {
      const std::string name = "Campo" + std::to_string(i);
      const bool combo = i % 5 == 0;
      e.PutField({.archive = Archive(fields),
                  .name = name,
                  .label = "Campo " + std::to_string(i),
                  .descr = "Campo di prova " + std::to_string(i),
                  .max_len = 40,
                  .type = combo ? "ComboBox" : "TextBox"});
      e.PutLayout({Archive(fields), name, sample::kEntryForm, 2000, 0, i % 4 == 1, false, true});
      if (!combo) continue;
      for (int c = 1; c <= kCodes; ++c) {
        e.Db()
            .Query(
                "INSERT INTO code_lists (archive, fieldType, \"COD\", \"VALUE\") "
                "VALUES (?1, ?2, ?3, ?4)")
            .Bind(1, Archive(fields))
            .Bind(2, name)
            .Bind(3, "C" + std::to_string(10000 + c))
            .Bind(4, "Descrizione del codice " + std::to_string(c))
            .Run();
      }
    }
  });
}

struct World {
  std::shared_ptr<kvthost::qt::QtDesktop> desktop =
      kvthost::qt::QtDesktop::Install(kvthost::qt::QtDesktop::Messages::kRecord);
  kvtbench::SampleFile file{"qt-bench"};
  World() {
    kvtaddons::RegisterResizerClass();
    CreateArchive(*file.engine, 1000);
  }
};

World& W() {
  static World w;
  return w;
}

// The form as the desktop program opens it: the viewer's window with its status bar, the
// collection filled, styled and arranged, shown.
struct OpenForm {
  std::shared_ptr<kvthost::Coordinator> coordinator = std::make_shared<kvthost::Coordinator>();
  std::shared_ptr<kvtfields::FieldsCollection> fields = kvtfields::FieldsCollection::Create();
  std::shared_ptr<kvtfields::FieldViewer> viewer = kvtfields::FieldViewer::Create();
  std::shared_ptr<kvthost::qt::QtForm> window;

  explicit OpenForm(std::int64_t n) {
    coordinator->SetDBEngine(W().file.engine);
    coordinator->SetScriptEngine(std::make_shared<kvtbench::QuietScripts>());
    fields->InitEx(coordinator);
    coordinator->SetFieldsCollection(fields);
    kvt::ObjectRef c = coordinator;
    viewer->Init(c);
    window = std::dynamic_pointer_cast<kvthost::qt::QtForm>(viewer->VisualForm());
    auto bar =
        kvt::CObj(kvt::CallMethod(window->Controls(), "Add", kvtfields::kStatusBarClass, "SB"));
    kvt::CallMethod(kvt::CObj(kvt::GetProperty(bar, "Panels")), "Add", "fieldHelp");
    fields->FillCollection(Archive(n), sample::kEntryForm, window);
    viewer->ControlsLoad();
    fields->SortTab(1);
    window->Show();
    QApplication::processEvents();
  }
};

// The same widgets the plain way: a form layout, combos filled with addItems.
void NaiveForm(std::int64_t n, bool combos) {
  QWidget w;
  auto* layout = new QFormLayout(&w);
  QStringList codes;
  for (int c = 1; c <= kCodes; ++c) {
    codes << QString("C%1 - Descrizione del codice %2").arg(10000 + c).arg(c);
  }
  for (std::int64_t i = 1; i <= n; ++i) {
    const QString label = QString("Campo %1:").arg(i);
    if (combos && i % 5 == 0) {
      auto* box = new QComboBox;
      box->addItems(codes);
      layout->addRow(label, box);
    } else {
      layout->addRow(label, new QLineEdit);
    }
  }
  w.show();
  QApplication::processEvents();
}

template <class F>
double Seconds(F&& f) {
  const auto start = Clock::now();
  f();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

template <class F>
double Median(int runs, F&& f) {
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) t.push_back(Seconds(f));
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

// Rounds of `floor` and `ours` taken in turn, so that a busy moment of the machine falls on
// both alike: the median of the rounds' ratios. `after` undoes `ours` untimed.
template <class A, class B, class C>
double MedianRatio(int rounds, A&& ours, B&& floor, C&& after, double* ours_s = nullptr,
                   double* floor_s = nullptr) {
  std::vector<double> ratios;
  for (int r = 0; r < rounds; ++r) {
    const double f = Seconds(floor);
    const double o = Seconds(ours);
    after();
    ratios.push_back(o / f);
    if (ours_s) *ours_s += o / rounds;
    if (floor_s) *floor_s += f / rounds;
  }
  std::sort(ratios.begin(), ratios.end());
  return ratios[ratios.size() / 2];
}

void BM_QtOpenForm(benchmark::State& state) {
  W();
  const std::int64_t n = state.range(0);
  for (auto _ : state) {
    auto form = std::make_unique<OpenForm>(n);
    state.PauseTiming();  // closing the window is not opening it
    form.reset();
    QApplication::processEvents();
    state.ResumeTiming();
  }
  // Opening and closing: only the opening is timed.
  std::unique_ptr<OpenForm> form;
  auto open = [&] {
    form = std::make_unique<OpenForm>(n);
    benchmark::DoNotOptimize(form->fields->Count());
  };
  auto close = [&] {
    form.reset();
    QApplication::processEvents();
  };
  double ours = 0, plain = 0;
  const double ratio = MedianRatio(
      5, open, [&] { NaiveForm(n, false); }, close, &ours, &plain);
  const double naive = Median(3, [&] { NaiveForm(n, true); });
  state.counters["vs_plain_edits"] = ratio;
  state.counters["vs_naive"] = ours / naive;
  state.counters["naive_ms"] = naive * 1000;
  state.counters["plain_edits_ms"] = plain * 1000;
  state.counters["open_ms"] = ours * 1000;
}
BENCHMARK(BM_QtOpenForm)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(3);

// The same form opened by the desktop program: its window, the form in a scroll area, the
// progress shown while the fields are built.
void BM_DeskOpenForm(benchmark::State& state) {
  W();
  const std::int64_t n = state.range(0);
  auto open = [&] {
    kvtdesk::DeskWindow window(W().file.path, Archive(n), sample::kEntryForm);
    window.show();
    QApplication::processEvents();
    benchmark::DoNotOptimize(window.Work());
  };
  for (auto _ : state) open();
  state.counters["vs_plain_edits"] = MedianRatio(
      5, open, [&] { NaiveForm(n, false); }, [] {});
}
BENCHMARK(BM_DeskOpenForm)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(3);

// One key typed into a text field of the 1,000-field form: the control, its change event, the
// field's script event and callback, and the widget showing the new text.
void BM_QtKeystroke(benchmark::State& state) {
  W();
  OpenForm form(1000);
  kvthost::qt::QtPerson person(form.window);
  person.Focus("Campo1");
  auto* q = dynamic_cast<kvthost::qt::QtControl*>(form.window->FindControl("Campo1").get());
  QWidget* editor = q->FocusWidget();
  bool typed = false;  // every other key takes the character back, so the text stays short
  for (auto _ : state) {
    if (typed) {
      QTest::keyClick(editor, Qt::Key_Backspace);
    } else {
      QTest::keyClick(editor, Qt::Key_A);
    }
    typed = !typed;
  }
}
BENCHMARK(BM_QtKeystroke)->Unit(benchmark::kMicrosecond);

// A 20-page PDF of an invoice, its number on every page and `seed` in its text, so that each
// document has a file of its own.
std::string WriteInvoicePdf(const std::string& path, int seed) {
  QPdfWriter pdf(QString::fromStdString(path));
  pdf.setPageSize(QPageSize(QPageSize::A4));
  QPainter p(&pdf);
  for (int page = 1; page <= 20; ++page) {
    if (page > 1) pdf.newPage();
    p.setFont(QFont("DejaVu Sans", 14));
    for (int line = 0; line < 40; ++line) {
      p.drawText(200, 300 + line * 240,
                 QString("Fattura %1, pagina %2, riga %3: articolo %4, quantità %5, € %6,00")
                     .arg(seed)
                     .arg(page)
                     .arg(line + 1)
                     .arg(1000 + line * 7 + seed)
                     .arg(1 + line % 9)
                     .arg(12 + line));
    }
  }
  return path;
}

// The navigator moves to the next of nine invoices, each with its own 20-page PDF: the time
// until the preview shows the first page (first_page_ms, the median of the moves; the file read
// checked from the archive and the page drawn on the pane's thread), and meanwhile a key typed
// into the form and taken back, a pair at a time, the time each key holds the UI thread
// (ui_thread_us, the 95th percentile of the keys typed while a page was on its way).
void BM_OpenDocumentWithPreview(benchmark::State& state) {
  W();  // the Qt window system
  kvtbench::SampleFile file("preview-bench");
  const std::string folder = file.path + ".pdfs";
  std::filesystem::create_directories(folder);
  for (int i = 1; i <= 9; ++i) {
    const std::string pdf = WriteInvoicePdf(folder + "/fattura" + std::to_string(i) + ".pdf", i);
    file.engine->Transaction([&] {
      const auto kept = kvtengine::KeepFile(*file.engine, pdf);
      auto values = kvt::Dictionary::Create();
      values->Add("NumeroDocumento", std::to_string(1000 + i));
      values->Add("Cliente", "ACME");
      values->Add("Allegato", kvtfiles::FileRefText({kept.sha256, kept.name}));
      file.engine->SaveDocument(sample::kArchive, values);
    });
  }
  std::vector<double> first_page_ms, key_us;
  for (auto _ : state) {
    kvtdesk::DeskWindow window(file.path, sample::kArchive, sample::kReviewForm);
    window.resize(1200, 800);
    window.PreviewDock()->show();
    window.show();
    QApplication::processEvents();
    window.Work()->Person().Focus("Note");
    QWidget* editor = QApplication::focusWidget();
    bool shown = false;
    window.Preview()->on_shown = [&] { shown = !window.Preview()->Picture().isNull(); };
    for (int move = 0; move < 9; ++move) {
      shown = false;
      const auto start = Clock::now();
      window.Move(move == 0 ? kvtdesk::DeskWindow::Step::kFirst : kvtdesk::DeskWindow::Step::kNext);
      for (int key = 0; !shown; ++key) {
        const auto typed = Clock::now();
        QTest::keyClick(editor, key % 2 == 0 ? Qt::Key_A : Qt::Key_Backspace);
        key_us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - typed).count());
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        if (Clock::now() - start > std::chrono::seconds(20)) {
          state.SkipWithError("no page in 20 s");
          return;
        }
      }
      first_page_ms.push_back(
          std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
  }
  std::sort(first_page_ms.begin(), first_page_ms.end());
  std::sort(key_us.begin(), key_us.end());
  state.counters["first_page_ms"] = first_page_ms[first_page_ms.size() / 2];
  state.counters["ui_thread_us"] = key_us[key_us.size() * 95 / 100];
  state.counters["keys"] = static_cast<double>(key_us.size());
  std::filesystem::remove_all(folder);
  std::filesystem::remove_all(file.path + ".files");
}
BENCHMARK(BM_OpenDocumentWithPreview)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
