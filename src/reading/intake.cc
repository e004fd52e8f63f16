#include "reading/intake.h"

#include <QTemporaryFile>
#include <algorithm>
#include <mutex>

#include "engine/common/document_search.h"
#include "engine/common/engine_error.h"
#include "engine/common/file_store.h"
#include "reading/barcodes.h"
#include "reading/item_pages.h"
#include "reading/scans_pdf.h"

namespace kvtread {

namespace {

// A page with fewer letters and digits than this is blank: a scanner's speck read as a letter
// does not make a page.
constexpr std::size_t kBlankBelow = 5;

bool Blank(const kvtfiles::PageText& page) {
  std::size_t letters = 0;
  for (const auto& w : page.words) {
    for (const auto& part : kvtengine::SearchWords(w.text)) letters += part.size();
  }
  return letters < kBlankBelow;
}

kvtengine::IntakeItem Item(const std::string& name, std::int32_t first, std::int32_t pages,
                           kvtengine::IntakeItem::State state, std::string reason = {}) {
  kvtengine::IntakeItem i;
  i.name = name;
  i.first_page = first;
  i.pages = pages;
  i.state = state;
  i.reason = std::move(reason);
  return i;
}

}  // namespace

std::vector<kvtengine::IntakeItem> SplitStack(const kvtfiles::FileReading& reading,
                                              std::int32_t pages, Split how,
                                              const std::string& name,
                                              const std::map<int, std::string>& separators) {
  using State = kvtengine::IntakeItem::State;
  const auto read = static_cast<std::int32_t>(reading.pages.size());
  pages = std::max({pages, read, 1});
  std::vector<kvtengine::IntakeItem> out;
  if (how == Split::kWhole) {
    out.push_back(Item(name, 1, read > 0 ? read : pages, State::kQueued));
  } else {
    std::int32_t start = 0;  // the first page of the document being gathered, 0: none
    for (std::int32_t p = 1; p <= read; ++p) {
      const auto code = separators.find(p);
      const bool separator = how == Split::kBarcode
                                 ? code != separators.end()
                                 : Blank(reading.pages[static_cast<std::size_t>(p - 1)]);
      if (!separator) {
        if (start == 0) start = p;
        continue;
      }
      if (start != 0) out.push_back(Item(name, start, p - start, State::kQueued));
      start = 0;
      out.push_back(Item(name, p, 1, State::kSetAside,
                         how == Split::kBarcode ? "foglio separatore (codice " + code->second + ")"
                                                : std::string("pagina bianca (separatore)")));
    }
    if (start != 0) out.push_back(Item(name, start, read + 1 - start, State::kQueued));
  }
  // What was not read is accounted for too.
  const std::int32_t covered = out.empty() ? 0 : out.back().first_page + out.back().pages - 1;
  if (covered < pages) {
    out.push_back(Item(name, covered + 1, pages - covered, State::kSetAside,
                       "pagine non lette: " + (reading.failure.empty() ? std::string("nessun testo")
                                                                       : reading.failure)));
  }
  return out;
}

TakenIn TakeIn(kvtengine::ArchiveEngine& engine, Ocr& ocr, const std::string& archive,
               const std::string& path, Split how, std::string_view separator) {
  return TakeIn(engine, std::vector<Ocr*>{&ocr}, archive, path, how, separator);
}

TakenIn TakeIn(kvtengine::ArchiveEngine& engine, const std::vector<Ocr*>& ocrs,
               const std::string& archive, const std::string& path, Split how,
               std::string_view separator) {
  TakenIn out;
  // No pattern given: the archive's own, else any barcode.
  std::string pattern(separator);
  if (how == Split::kBarcode && pattern.empty()) {
    pattern = engine.ArchiveSetting(archive, kvtengine::kSeparatorSetting);
    if (pattern.empty()) pattern = "*";
  }
  const kvtfiles::StoredFile file = kvtengine::KeepFile(engine, path);
  out.name = kvtfiles::BaseName(path);
  out.sha256 = file.sha256;
  // The stack is read from a private copy, checked as it is made: never whole in memory.
  QTemporaryFile copy;
  bool copied = false;
  auto load = [&] {
    if (copied) return;
    if (!copy.open()) {
      throw kvtengine::EngineError(kvtengine::kFileRefused, "kvtfields.reading",
                                   "Non si può creare un file temporaneo per leggere " + out.name);
    }
    kvtengine::ReadKeptFile(engine, file.sha256, out.name, [&](std::string_view piece) {
      if (copy.write(piece.data(), static_cast<qint64>(piece.size())) !=
          static_cast<qint64>(piece.size())) {
        throw kvtengine::EngineError(
            kvtengine::kFileRefused, "kvtfields.reading",
            "Scrittura del file temporaneo non riuscita: " + copy.errorString().toStdString());
      }
    });
    if (!copy.flush()) {
      throw kvtengine::EngineError(kvtengine::kFileRefused, "kvtfields.reading",
                                   "Scrittura del file temporaneo non riuscita");
    }
    copied = true;
  };
  // Read once: a stack read before (taken in elsewhere, or an intake stopped halfway) is not
  // read again. The pages as read are encoded for the documents' own files as they go, on the
  // reading threads, so that cutting them costs no second drawing.
  kvtfiles::FileReading reading;
  PageSpill spill;
  // Separator sheets: the pages holding a barcode the pattern matches, looked for as the pages
  // are read (or, read before, drawn again for it).
  std::map<int, std::string> separators;
  std::mutex separators_m;
  auto look_for_codes = [&](int page, const QImage& scan) {
    if (how != Split::kBarcode) return;
    const QImage grey = scan.convertToFormat(QImage::Format_Grayscale8);
    for (const auto& code : Barcodes(grey.constBits(), grey.width(), grey.height(),
                                     static_cast<int>(grey.bytesPerLine()))) {
      if (!AnyMatches({code}, pattern)) continue;
      std::lock_guard lock(separators_m);
      separators.emplace(page + 1, code);
      break;
    }
  };
  if (!engine.FindReading(file.sha256, reading) || reading.reader != ReaderName()) {
    load();
    reading = ReadPagesAt(copy.fileName().toStdString(), ocrs, {},
                          [&](int page, const QImage& scan, int dpi) {
                            spill.Put(page, EncodePage(scan, dpi));
                            look_for_codes(page, scan);
                          });
    engine.KeepReading(file.sha256, reading);
  } else if (how == Split::kBarcode && !reading.pages.empty()) {
    load();
    int page = 0;
    EachPage(copy.fileName().toStdString(), out.name, 1, static_cast<int>(reading.pages.size()), {},
             [&](const QImage& scan, int) { look_for_codes(page++, scan); });
  }
  auto items = SplitStack(reading, file.pages, how, out.name, separators);
  // Each document's pages become its own file, there when a clerk takes it: a document shows,
  // searches and exports its pages only.
  const auto read = static_cast<std::int32_t>(reading.pages.size());
  const bool cut = std::any_of(items.begin(), items.end(), [&](const kvtengine::IntakeItem& i) {
    return i.state == kvtengine::IntakeItem::State::kQueued &&
           (i.first_page != 1 || i.pages < std::max(file.pages, read));
  });
  if (cut) {
    load();
    KeepItemPages(engine, file, copy.fileName().toStdString(), reading, items, {}, &spill);
  }
  for (const auto& i : items) {
    out.pages += i.pages;
    (i.state == kvtengine::IntakeItem::State::kQueued ? out.documents : out.set_aside) += 1;
  }
  out.added = engine.PutIntake(archive, file.sha256, items);
  return out;
}

}  // namespace kvtread
