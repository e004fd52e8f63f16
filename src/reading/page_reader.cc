#include "reading/page_reader.h"

#include <omp.h>
#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QPdfDocument>
#include <QPdfSelection>
#include <QTemporaryFile>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "engine/common/archive_engine.h"
#include "engine/common/engine_error.h"

namespace kvtread {

namespace {

constexpr const char* kSource = "kvtfields.reading";

// A PDF page holding fewer letters than this is taken for a scan (a page number, a stamp).
constexpr int kOwnTextLetters = 20;

bool IsPdf(const std::string& bytes) {
  return bytes.compare(0, 5, "%PDF-") == 0;
}

bool IsBlank(QChar c) {
  return c.isSpace() || c.category() == QChar::Other_Control;
}

// The words of a PDF page's own text, each with the box of its letters, in points.
kvtfiles::PageText PdfWords(QPdfDocument& pdf, int page) {
  kvtfiles::PageText out;
  const QSizeF size = pdf.pagePointSize(page);
  out.width = static_cast<std::int32_t>(std::lround(size.width()));
  out.height = static_cast<std::int32_t>(std::lround(size.height()));
  QString text = pdf.getAllText(page).text();
  // A text layer of 100 MB of invisible letters is cut, not kept.
  if (static_cast<std::size_t>(text.size()) > kvtfiles::kMaxPageChars) {
    text.truncate(static_cast<qsizetype>(kvtfiles::kMaxPageChars));
  }
  for (qsizetype i = 0; i < text.size();) {
    while (i < text.size() && IsBlank(text[i])) ++i;
    const qsizetype start = i;
    while (i < text.size() && !IsBlank(text[i])) ++i;
    if (i == start) continue;
    std::string word = kvtfiles::CleanWord(text.mid(start, i - start).toStdString());
    if (word.empty()) continue;
    const QRectF box =
        pdf.getSelectionAtIndex(page, static_cast<int>(start), static_cast<int>(i - start))
            .boundingRectangle();
    out.words.push_back({static_cast<std::int32_t>(std::lround(box.x())),
                         static_cast<std::int32_t>(std::lround(box.y())),
                         static_cast<std::int32_t>(std::lround(box.width())),
                         static_cast<std::int32_t>(std::lround(box.height())), 100,
                         std::move(word)});
  }
  return out;
}

int Letters(const kvtfiles::PageText& page) {
  int n = 0;
  for (const auto& w : page.words) n += static_cast<int>(w.text.size());
  return n;
}

// How sure the OCR was of a page's words, letter by letter.
double Sureness(const kvtfiles::PageText& page) {
  double sum = 0;
  for (const auto& w : page.words) sum += w.confidence * static_cast<double>(w.text.size());
  return sum;
}

// A page of some words the OCR was mostly unsure of: upside down, perhaps.
bool Unsure(const kvtfiles::PageText& page) {
  std::size_t letters = 0;
  for (const auto& w : page.words) letters += w.text.size();
  return letters >= 20 && Sureness(page) / static_cast<double>(letters) < 60;
}

// A grey page with almost no dark pixels: a scanner's specks, no letters (a short word printed
// at 300 dpi darkens well over 3 in 100,000 of an A4 page).
bool Blank(const QImage& grey) {
  const std::int64_t most = static_cast<std::int64_t>(grey.width()) * grey.height() * 3 / 100000;
  std::int64_t dark = 0;
  for (int y = 0; y < grey.height(); ++y) {
    const uchar* row = grey.constScanLine(y);
    for (int x = 0; x < grey.width(); ++x) dark += row[x] < 128;
    if (dark > most) return false;
  }
  return true;
}

std::string PageName(int page) {
  return "pagina " + std::to_string(page + 1);
}

}  // namespace

std::string ReaderName() {
  return std::string("kvtfields-pagine 1; tesseract ") + tesseract::TessBaseAPI::Version() + " ita";
}

struct Ocr::Engine {
  tesseract::TessBaseAPI api;
};

Ocr::Ocr() : engine_(std::make_unique<Engine>()) {
  if (engine_->api.Init(nullptr, "ita", tesseract::OEM_LSTM_ONLY) != 0) {
    throw kvtengine::EngineError(kvtengine::kDatabaseError, kSource,
                                 "il modello italiano per leggere le pagine (tesseract-ocr-ita) "
                                 "non è installato");
  }
  engine_->api.SetPageSegMode(tesseract::PSM_AUTO);
  // Its messages go nowhere: what went wrong is said by the reading.
  engine_->api.SetVariable("debug_file", "/dev/null");
}

Ocr::~Ocr() {
  engine_->api.End();
}

bool Ocr::Read(const unsigned char* grey, int width, int height, int bytes_per_line, int dpi,
               std::chrono::milliseconds budget, kvtfiles::PageText& page) {
  // The OCR's own threads would only contend with the other workers, spinning: each worker
  // reads on its own thread alone (no parallel region of this thread is active). Its thread
  // limit is read from the environment once, when the library loads, too early to set here.
  omp_set_max_active_levels(0);
  auto& api = engine_->api;
  api.SetImage(grey, width, height, 1, bytes_per_line);
  api.SetSourceResolution(dpi);
  tesseract::ETEXT_DESC monitor;
  monitor.set_deadline_msecs(static_cast<std::int32_t>(budget.count()));
  if (cancel_) {
    monitor.cancel = [](void* flag, int) {
      return static_cast<const std::atomic<bool>*>(flag)->load();
    };
    monitor.cancel_this = const_cast<std::atomic<bool>*>(cancel_);
  }
  const bool done = api.Recognize(&monitor) == 0 && !monitor.deadline_exceeded();
  page.width = width;
  page.height = height;
  if (!done) {
    api.Clear();
    return false;
  }
  std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
  if (it) {
    do {
      const std::unique_ptr<char[]> text(it->GetUTF8Text(tesseract::RIL_WORD));
      if (!text) continue;
      std::string word = kvtfiles::CleanWord(text.get());
      if (word.empty()) continue;
      int left = 0, top = 0, right = 0, bottom = 0;
      it->BoundingBox(tesseract::RIL_WORD, &left, &top, &right, &bottom);
      const float confidence = it->Confidence(tesseract::RIL_WORD);
      page.words.push_back({left, top, right - left, bottom - top,
                            static_cast<std::int32_t>(std::clamp(confidence, 0.0f, 100.0f)),
                            std::move(word)});
    } while (it->Next(tesseract::RIL_WORD));
  }
  api.Clear();
  return true;
}

namespace {

// A page to be read by OCR: drawn or scanned, with its resolution; a PDF page's words go back
// to its points.
struct PageJob {
  int index = 0;
  QImage image;
  int dpi = 300;
  QSizeF points;  // a PDF page's size; empty for a scan
};

// The pages as they come off the one thread that decodes or draws them (PDFium and an image
// reader take one thread), read by an OCR worker each; at most two pages a worker wait drawn.
class PageLine {
 public:
  PageLine(const std::vector<Ocr*>& ocrs, const PageBudget& budget, const PageSeen& seen)
      : budget_(budget), seen_(seen), most_waiting_(2 * ocrs.size()) {
    for (Ocr* ocr : ocrs) workers_.emplace_back([this, ocr] { Work(*ocr); });
  }
  ~PageLine() { Finish(); }

  // False once a page before `index` failed: reading further is of no use.
  bool Wanted(int index) const { return index < first_failure_.load(); }
  void Put(PageJob job) {
    std::unique_lock lock(m_);
    space_.wait(lock, [&] { return jobs_.size() < most_waiting_; });
    jobs_.push_back(std::move(job));
    ready_.notify_one();
  }
  void Read(int index, kvtfiles::PageText page) {
    std::lock_guard lock(m_);
    read_[index] = std::move(page);
  }
  void Fail(int index, std::string why) {
    std::lock_guard lock(m_);
    failed_.emplace(index, std::move(why));
    int first = first_failure_.load();
    while (index < first && !first_failure_.compare_exchange_weak(first, index)) {
    }
  }
  void Finish() {
    {
      std::lock_guard lock(m_);
      done_ = true;
    }
    ready_.notify_all();
    for (auto& t : workers_) {
      if (t.joinable()) t.join();
    }
  }
  // The pages read in order up to the first failure, which is said.
  void Into(kvtfiles::FileReading& reading, const std::string& after_all) {
    Finish();
    for (int p = 0;; ++p) {
      if (const auto it = read_.find(p); it != read_.end()) {
        reading.pages.push_back(std::move(it->second));
        continue;
      }
      if (const auto it = failed_.find(p); it != failed_.end()) {
        reading.failure = it->second;
        return;
      }
      break;
    }
    reading.failure = after_all;
  }

 private:
  void Work(Ocr& ocr) {
    for (;;) {
      PageJob job;
      {
        std::unique_lock lock(m_);
        ready_.wait(lock, [&] { return done_ || !jobs_.empty(); });
        if (jobs_.empty()) return;
        job = std::move(jobs_.front());
        jobs_.pop_front();
        space_.notify_one();
      }
      if (!Wanted(job.index)) continue;
      try {
        if (seen_) seen_(job.index, job.image, job.dpi);
        std::string why;
        auto page = ReadOne(ocr, job, why);
        if (page) {
          Read(job.index, std::move(*page));
        } else {
          Fail(job.index, std::move(why));
        }
      } catch (const std::exception& e) {
        Fail(job.index, PageName(job.index) + ": " + e.what());
      }
    }
  }

  std::optional<kvtfiles::PageText> ReadOne(Ocr& ocr, PageJob& job, std::string& why) {
    QImage image = std::move(job.image);
    if (image.format() != QImage::Format_Grayscale8) {
      image = image.convertToFormat(QImage::Format_Grayscale8);
    }
    if (image.isNull()) {
      why = PageName(job.index) + ": l'immagine non si può leggere";
      return std::nullopt;
    }
    if (Blank(image)) {
      // Nothing printed on it: a separator sheet, read as no words without the OCR's time.
      kvtfiles::PageText page;
      page.width = image.width();
      page.height = image.height();
      if (!job.points.isEmpty()) {
        page.width = static_cast<std::int32_t>(std::lround(job.points.width()));
        page.height = static_cast<std::int32_t>(std::lround(job.points.height()));
      }
      return page;
    }
    const auto started = std::chrono::steady_clock::now();
    const std::string over_time = PageName(job.index) + ": la lettura ha superato i " +
                                  std::to_string(budget_.ocr_time.count() / 1000) + " secondi";
    kvtfiles::PageText page;
    if (!ocr.Read(image.constBits(), image.width(), image.height(),
                  static_cast<int>(image.bytesPerLine()), job.dpi, budget_.ocr_time, page)) {
      why = over_time;
      return std::nullopt;
    }
    // A sheet fed upside down reads as words the OCR is unsure of: read turned, the better
    // reading is kept, its boxes where they are on the page as scanned.
    if (Unsure(page)) {
      const QImage turned = image.mirrored(true, true);
      const auto left = budget_.ocr_time - std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - started);
      kvtfiles::PageText again;
      if (left.count() <= 0 ||
          !ocr.Read(turned.constBits(), turned.width(), turned.height(),
                    static_cast<int>(turned.bytesPerLine()), job.dpi, left, again)) {
        why = over_time;
        return std::nullopt;
      }
      if (Sureness(again) > Sureness(page)) {
        for (auto& w : again.words) {
          w.x = again.width - w.x - w.width;
          w.y = again.height - w.y - w.height;
        }
        page = std::move(again);
      }
    }
    if (!job.points.isEmpty()) {
      // The page in points, as a PDF's own words are.
      const double scale = 72.0 / job.dpi;
      page.width = static_cast<std::int32_t>(std::lround(job.points.width()));
      page.height = static_cast<std::int32_t>(std::lround(job.points.height()));
      for (auto& w : page.words) {
        w.x = static_cast<std::int32_t>(std::lround(w.x * scale));
        w.y = static_cast<std::int32_t>(std::lround(w.y * scale));
        w.width = static_cast<std::int32_t>(std::lround(w.width * scale));
        w.height = static_cast<std::int32_t>(std::lround(w.height * scale));
      }
    }
    return page;
  }

  const PageBudget& budget_;
  const PageSeen& seen_;
  const std::size_t most_waiting_;
  std::mutex m_;
  std::condition_variable ready_, space_;
  std::deque<PageJob> jobs_;
  bool done_ = false;
  std::map<int, kvtfiles::PageText> read_;
  std::map<int, std::string> failed_;
  std::atomic<int> first_failure_{std::numeric_limits<int>::max()};
  std::vector<std::thread> workers_;
};

}  // namespace

kvtfiles::FileReading ReadPages(const std::string& bytes, Ocr& ocr, const PageBudget& budget) {
  return ReadPages(bytes, std::vector<Ocr*>{&ocr}, budget);
}

kvtfiles::FileReading ReadPages(const std::string& bytes, const std::vector<Ocr*>& ocrs,
                                const PageBudget& budget, const PageSeen& seen) {
  // Qt's PDF reader takes a file: the bytes go to a private temporary one.
  QTemporaryFile file;
  if (!file.open() ||
      file.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
          static_cast<qint64>(bytes.size()) ||
      !file.flush()) {
    kvtfiles::FileReading reading;
    reading.reader = ReaderName();
    reading.read_at = kvtengine::SavedAtNow();
    reading.failure = "non si può scrivere il file temporaneo per leggerlo";
    return reading;
  }
  return ReadPagesAt(file.fileName().toStdString(), ocrs, budget, seen);
}

kvtfiles::FileReading ReadPagesAt(const std::string& path, const std::vector<Ocr*>& ocrs,
                                  const PageBudget& budget, const PageSeen& seen) {
  kvtfiles::FileReading reading;
  reading.reader = ReaderName();
  reading.read_at = kvtengine::SavedAtNow();
  if (ocrs.empty()) {
    reading.failure = "nessun lettore di pagine";
    return reading;
  }
  QFile input(QString::fromStdString(path));
  if (!input.open(QIODevice::ReadOnly)) {
    reading.failure = "il file non si può aprire per leggerlo";
    return reading;
  }
  const QByteArray head = input.peek(5);
  PageLine line(ocrs, budget, seen);
  std::string after_all;

  if (IsPdf(head.toStdString())) {
    QPdfDocument pdf;
    if (pdf.load(QString::fromStdString(path)) != QPdfDocument::Error::None ||
        pdf.pageCount() <= 0) {
      reading.failure = "il PDF è danneggiato o protetto: le sue pagine non si possono leggere";
      return reading;
    }
    const int pages = std::min(pdf.pageCount(), budget.max_pages);
    for (int p = 0; p < pages && line.Wanted(p); ++p) {
      kvtfiles::PageText page = PdfWords(pdf, p);
      if (Letters(page) >= kOwnTextLetters) {
        line.Read(p, std::move(page));
        continue;
      }
      const QSizeF points = pdf.pagePointSize(p);
      const QSize pixels(static_cast<int>(points.width() / 72.0 * budget.dpi),
                         static_cast<int>(points.height() / 72.0 * budget.dpi));
      if (pixels.isEmpty() ||
          static_cast<std::int64_t>(pixels.width()) * pixels.height() > budget.max_pixels) {
        line.Fail(p, PageName(p) + ": la pagina è troppo grande per leggerla");
        break;
      }
      QImage drawn = pdf.render(p, pixels);
      if (drawn.isNull()) {
        line.Fail(p, PageName(p) + ": la pagina non si può disegnare");
        break;
      }
      // Drawn on transparent: letters on white, as a scan has them.
      QImage white(drawn.size(), QImage::Format_RGB32);
      white.fill(Qt::white);
      QPainter(&white).drawImage(0, 0, drawn);
      line.Put({p, std::move(white), budget.dpi, points});
    }
    if (pdf.pageCount() > pages) {
      after_all = "lette le prime " + std::to_string(pages) + " pagine di " +
                  std::to_string(pdf.pageCount());
    }
    line.Into(reading, after_all);
    return reading;
  }

  QImageReader reader(&input);
  if (!reader.canRead()) {
    reading.failure = "non è un PDF né un'immagine: non ci sono pagine da leggere";
    return reading;
  }
  const int count = std::max(1, reader.imageCount());
  for (int p = 0; p < std::min(count, budget.max_pages) && line.Wanted(p); ++p) {
    if (p > 0 && !reader.jumpToImage(p)) {
      line.Fail(p, PageName(p) + ": l'immagine è danneggiata");
      break;
    }
    const QSize size = reader.size();
    if (size.isValid() &&
        static_cast<std::int64_t>(size.width()) * size.height() > budget.max_pixels) {
      line.Fail(p, PageName(p) + ": l'immagine è troppo grande per leggerla (" +
                       std::to_string(size.width()) + "×" + std::to_string(size.height()) +
                       " punti)");
      break;
    }
    QImage image = reader.read();
    if (image.isNull()) {
      line.Fail(p, PageName(p) + ": l'immagine è danneggiata");
      break;
    }
    // The resolution the scan says it has; 300 dpi when it says none.
    int dpi = static_cast<int>(std::lround(image.dotsPerMeterX() * 0.0254));
    if (dpi < 70 || dpi > 1200) dpi = 300;
    line.Put({p, std::move(image), dpi, {}});
  }
  if (count > budget.max_pages) {
    after_all = "lette le prime " + std::to_string(budget.max_pages) + " pagine di " +
                std::to_string(count);
  }
  line.Into(reading, after_all);
  return reading;
}

}  // namespace kvtread
