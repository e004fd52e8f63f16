#include "preview_pane.h"

#include <sys/stat.h>

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QImageReader>
#include <QMouseEvent>
#include <QPainter>
#include <QPdfDocument>
#include <QUrl>
#include <QVBoxLayout>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "common/open_engine.h"
#include "common/output_file.h"
#include "common/problem.h"
#include "engine/common/file_store.h"
#include "engine/files/file_facts.h"
#include "engine/files/sha256.h"

namespace kvtdesk {

namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

// A page is drawn at most this large: a hostile page size cannot fill the memory.
constexpr qint64 kMaxPagePixels = 24'000'000;
// An image larger than this is not decoded at all: its header alone says so.
constexpr qint64 kMaxImagePixels = 150'000'000;

QString SizeText(std::int64_t bytes) {
  if (bytes < 1024) return QString("%1 byte").arg(bytes);
  if (bytes < (1 << 20)) return QString("%1 KB").arg(static_cast<double>(bytes) / 1024, 0, 'f', 1);
  return QString("%1 MB").arg(static_cast<double>(bytes) / (1 << 20), 0, 'f', 1);
}

}  // namespace

// The pane's thread: its own connection to the database, the checked copies it made, and the
// PDF open. Only the newest request is worked on; one asked while another runs waits for it.
class PreviewWorker {
 public:
  struct Want {
    std::uint64_t generation = 0;
    std::string db, whose;
    kvtfiles::FileRef ref;
    std::string chosen;  // the file picked, not kept yet: read from where it is
    int page = 0, width = 800;
    double zoom = 0;
    std::vector<kvtengine::WordTerm> terms;  // the words to mark
    bool prepare = false;                    // made ready only, to be shown when asked for
  };
  using Reply = std::function<void(std::uint64_t generation, const QImage& page, int pages,
                                   const QString& caption, const QString& local, int marked,
                                   std::vector<PreviewPane::ShownWord> words)>;

  explicit PreviewWorker(Reply reply) : reply_(std::move(reply)) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "kvtfields-anteprima-XXXXXX").string();
    if (mkdtemp(pattern.data())) folder_ = pattern;
    thread_ = std::thread([this] { Run(); });
  }
  ~PreviewWorker() {
    {
      std::lock_guard lock(m_);
      stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
    std::error_code ec;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
  }
  PreviewWorker(const PreviewWorker&) = delete;
  PreviewWorker& operator=(const PreviewWorker&) = delete;

  void Ask(Want want) {
    {
      std::lock_guard lock(m_);
      (want.prepare ? prepare_ : want_) = std::move(want);
    }
    wake_.notify_one();
  }

 private:
  void Run() {
    std::unique_lock lock(m_);
    for (;;) {
      wake_.wait(lock, [&] { return stop_ || want_ || prepare_; });
      if (stop_) break;
      // What is asked for first; what may be asked for next when nothing is.
      auto& next = want_ ? want_ : prepare_;
      Want w = std::move(*next);
      next.reset();
      lock.unlock();
      Work(w);
      lock.lock();
    }
    lock.unlock();
    pdf_.reset();  // made on this thread, ended on it
    engine_.reset();
  }

  void Work(const Want& w) {
    if (!w.prepare && ready_ && ready_->Serves(w)) {
      reply_(w.generation, ready_->image, ready_->pages, ready_->caption, ready_->local, 0,
             ready_->words);
      return;
    }
    kvtfiles::StoredFile file;
    QString local;
    try {
      local = Fetch(w, file);
    } catch (const std::exception& e) {
      const kvtapp::Problem p = kvtapp::ProblemOf(e);
      Say(w, {}, 0, Q(p.happened + " (" + p.details + ")"), {});
      return;
    }
    const QString about = Q(w.ref.name) + " (" + Q(file.media_type) + ", " + SizeText(file.size);
    if (file.media_type == "application/pdf") return Pdf(w, local, about);
    if (file.media_type.rfind("image/", 0) == 0) return Image(w, local, about);
    Say(w, {}, 0, about + "): nessuna anteprima per questo tipo di file", local);
  }

  // What was read of the page shown: its words marked where they were searched for, and the
  // caption saying when they are not read yet, or could not be.
  void Say(const Want& w, QImage image, int pages, QString caption, const QString& local) {
    int marked = 0;
    std::vector<PreviewPane::ShownWord> shown;
    if (engine_ && w.chosen.empty() && pages > 0) {
      kvtfiles::FileReading reading;
      bool read = false;
      try {
        read = engine_->FindReading(w.ref.sha256, reading);
      } catch (const std::exception&) {
        // words damaged in the database: the page is shown without them
      }
      const int page = std::clamp(w.page, 0, pages - 1);
      if (!read) {
        caption += " · testo non ancora letto";
      } else if (static_cast<std::size_t>(page) >= reading.pages.size()) {
        caption += " · testo non leggibile" +
                   (reading.failure.empty() ? QString() : ": " + Q(reading.failure));
      } else if (!image.isNull()) {
        const auto& read = reading.pages[static_cast<std::size_t>(page)];
        if (!w.terms.empty()) marked = Mark(image, read, w.terms);
        shown = Placed(image, read);
      }
    }
    if (w.prepare) {
      // Only a page shown whole with its words is kept ready; anything else is made again.
      if (!image.isNull() && !shown.empty()) {
        ready_ = Ready{w.db,  w.ref, w.page,  w.width, w.zoom,
                       image, pages, caption, local,   std::move(shown)};
      }
      return;
    }
    reply_(w.generation, image, pages, caption, local, marked, std::move(shown));
  }

  // The words of `page` where they are on its picture.
  static std::vector<PreviewPane::ShownWord> Placed(const QImage& image,
                                                    const kvtfiles::PageText& page) {
    std::vector<PreviewPane::ShownWord> out;
    if (page.width <= 0 || page.height <= 0) return out;
    const double sx = static_cast<double>(image.width()) / page.width;
    const double sy = static_cast<double>(image.height()) / page.height;
    for (const auto& word : page.words) {
      out.push_back({QRectF(word.x * sx, word.y * sy, word.width * sx, word.height * sy)
                         .toAlignedRect()
                         .adjusted(-2, -2, 2, 2),
                     QString::fromStdString(word.text)});
    }
    return out;
  }

  // Marks the words of `page` that one of `terms` names, as a highlighter would.
  static int Mark(QImage& image, const kvtfiles::PageText& page,
                  const std::vector<kvtengine::WordTerm>& terms) {
    if (page.width <= 0 || page.height <= 0) return 0;
    std::vector<std::pair<std::string, bool>> wanted;  // a word, and whether it is a prefix
    for (const auto& t : terms) {
      for (const auto& word : Words(t.text)) wanted.emplace_back(word, t.prefix && !t.phrase);
    }
    const double sx = static_cast<double>(image.width()) / page.width;
    const double sy = static_cast<double>(image.height()) / page.height;
    image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_Multiply);
    int marked = 0;
    for (const auto& word : page.words) {
      for (const auto& plain : Words(word.text)) {
        const bool match = std::any_of(wanted.begin(), wanted.end(), [&](const auto& t) {
          return t.second ? plain.rfind(t.first, 0) == 0 : plain == t.first;
        });
        if (!match) continue;
        painter.fillRect(
            QRectF(word.x * sx - 1, word.y * sy - 1, word.width * sx + 2, word.height * sy + 2),
            QColor(255, 230, 0));
        ++marked;
        break;
      }
    }
    return marked;
  }

  // The words of a text as searched: letters and digits, lower case, without accents.
  static std::vector<std::string> Words(const std::string& text) {
    return kvtengine::SearchWords(
        kvtfiles::FoldAccents(QString::fromStdString(text).toLower().toStdString()));
  }

  // The kept file as a read-only copy in the pane's folder, checked against its SHA-256 first.
  QString Fetch(const Want& w, kvtfiles::StoredFile& file) {
    if (!w.chosen.empty()) return Copy(w, file);
    if (!engine_ || db_ != w.db) {
      engine_.reset();
      pdf_.reset();
      engine_ = kvtapp::OpenEngine(w.db, /*create=*/false);
      db_ = w.db;
    }
    if (!engine_->FindFile(w.ref.sha256, file)) {
      throw kvt::Error(kvt::kObjectErrorBase + kvtengine::kBadFile, "kvtfields",
                       "Il file \"" + w.ref.name + "\" (" + w.whose + ") manca dall'archivio");
    }
    if (const auto it = fetched_.find(w.ref.sha256); it != fetched_.end()) return it->second;
    const std::string path = Local(w.ref);
    kvtapp::OutputFile out(path, {});
    kvtengine::ReadKeptFile(*engine_, w.ref.sha256, w.whose,
                            [&](std::string_view piece) { out.Write(piece); });
    out.Commit();
    ::chmod(path.c_str(), 0444);
    return fetched_[w.ref.sha256] = QString::fromStdString(path);
  }

  // A file picked and not kept yet, copied from where it is and checked against the SHA-256
  // it had when it was picked.
  QString Copy(const Want& w, kvtfiles::StoredFile& file) {
    const std::string path = Local(w.ref);
    std::ifstream in(w.chosen, std::ios::binary);
    if (!in) throw kvt::Error(2, "kvtfields", "Il file \"" + w.chosen + "\" non si può leggere");
    kvtapp::OutputFile out(path, {});
    kvtfiles::Sha256 hash;
    std::string piece(kvtfiles::kPieceBytes, '\0');
    while (in) {
      in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
      const std::string_view got(piece.data(), static_cast<std::size_t>(in.gcount()));
      if (got.empty()) break;
      if (file.size == 0) file.media_type = kvtfiles::MediaTypeOf(got);
      file.size += static_cast<std::int64_t>(got.size());
      hash.Update(got);
      out.Write(got);
    }
    if (hash.HexDigest() != w.ref.sha256) {
      throw kvt::Error(kvt::kObjectErrorBase + kvtengine::kFileRefused, "kvtfields",
                       "Il file \"" + w.chosen + "\" è cambiato da quando è stato scelto");
    }
    out.Commit();
    ::chmod(path.c_str(), 0444);
    return QString::fromStdString(path);
  }

  std::string Local(const kvtfiles::FileRef& ref) const {
    std::string name = kvtfiles::BaseName(ref.name);
    if (name.empty() || name == "." || name == "..") name = "file";
    return folder_ + "/" + ref.sha256.substr(0, 12) + "-" + name;
  }

  void Pdf(const Want& w, const QString& local, const QString& about) {
    if (!pdf_ || pdf_path_ != local) {
      pdf_ = std::make_unique<QPdfDocument>();
      pdf_path_ = local;
      if (pdf_->load(local) != QPdfDocument::Error::None || pdf_->pageCount() <= 0) {
        pdf_.reset();
        Say(w, {}, 0, about + "): il PDF è danneggiato e non si può mostrare", local);
        return;
      }
    }
    const int pages = pdf_->pageCount();
    const int page = std::clamp(w.page, 0, pages - 1);
    const QSizeF points = pdf_->pagePointSize(page);
    const double scale = w.zoom > 0 ? w.zoom * 96.0 / 72.0
                                    : static_cast<double>(w.width) / std::max(1.0, points.width());
    QSizeF px = points * scale;
    if (px.width() * px.height() > static_cast<double>(kMaxPagePixels)) {
      px *= std::sqrt(static_cast<double>(kMaxPagePixels) / (px.width() * px.height()));
    }
    const QImage image = pdf_->render(page, px.toSize().expandedTo(QSize(1, 1)));
    Say(w, image, pages, about + QString("): pagina %1 di %2").arg(page + 1).arg(pages), local);
  }

  void Image(const Want& w, const QString& local, const QString& about) {
    QImageReader reader(local);
    reader.setAllocationLimit(static_cast<int>(kMaxPagePixels * 4 / (1 << 20)) + 1);
    const int pages = std::max(1, reader.imageCount());
    const int page = std::clamp(w.page, 0, pages - 1);
    if (page > 0) reader.jumpToImage(page);
    const QSize size = reader.size();
    if (size.isValid() && qint64{size.width()} * size.height() > kMaxImagePixels) {
      Say(w, {}, pages,
          about + QString("): l'immagine è troppo grande per l'anteprima (%1 × %2 pixel)")
                      .arg(size.width())
                      .arg(size.height()),
          local);
      return;
    }
    const int width = w.zoom > 0 ? static_cast<int>(size.width() * w.zoom) : w.width;
    if (size.isValid() && size.width() > 0 && width > 0 && width != size.width()) {
      QSize scaled =
          size.scaled(width, size.height() * width / size.width() + 1, Qt::KeepAspectRatio);
      if (qint64{scaled.width()} * scaled.height() > kMaxPagePixels) {
        scaled.scale(4096, 4096, Qt::KeepAspectRatio);
      }
      reader.setScaledSize(scaled);
    }
    const QImage image = reader.read();
    if (image.isNull()) {
      Say(w, {}, pages, about + "): l'immagine non si può mostrare (" + reader.errorString() + ")",
          local);
      return;
    }
    Say(w, image, pages, about + QString("): pagina %1 di %2").arg(page + 1).arg(pages), local);
  }

  // A page made ready beforehand, and what it answers.
  struct Ready {
    std::string db;
    kvtfiles::FileRef ref;
    int page, width;
    double zoom;
    QImage image;
    int pages;
    QString caption, local;
    std::vector<PreviewPane::ShownWord> words;
    bool Serves(const Want& w) const {
      return w.db == db && w.ref.sha256 == ref.sha256 && w.ref.name == ref.name && w.page == page &&
             w.width == width && w.zoom == zoom && w.terms.empty() && w.chosen.empty();
    }
  };

  Reply reply_;
  std::mutex m_;
  std::condition_variable wake_;
  std::optional<Want> want_, prepare_;
  std::optional<Ready> ready_;  // used on the thread only
  bool stop_ = false;
  std::string folder_;
  // Used on the thread only.
  std::shared_ptr<kvtengine::ArchiveEngine> engine_;
  std::string db_;
  std::unordered_map<std::string, QString> fetched_;  // SHA-256 → checked copy
  std::unique_ptr<QPdfDocument> pdf_;
  QString pdf_path_;
  std::thread thread_;  // last: starts once the rest is made
};

PreviewPane::PreviewPane(QWidget* parent) : QWidget(parent) {
  setAccessibleName("Anteprima del documento");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  caption_ = new QLabel("Nessun file", this);
  caption_->setWordWrap(true);
  open_ = new QPushButton("Apri", this);
  open_->setToolTip("Apre una copia di sola lettura con il programma del sistema");
  open_->setEnabled(false);
  connect(open_, &QPushButton::clicked, this, [this] { OpenOutside(); });
  auto* top = new QHBoxLayout;
  top->addWidget(caption_, 1);
  top->addWidget(open_);
  layout->addLayout(top);
  scroll_ = new QScrollArea(this);
  scroll_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  scroll_->setFocusPolicy(Qt::NoFocus);  // the keys stay with the form
  page_view_ = new QLabel(scroll_);
  page_view_->setAlignment(Qt::AlignCenter);
  // A word clicked on the page goes to the form (the pointing hand says it can).
  page_view_->installEventFilter(this);
  page_view_->setMouseTracking(true);
  scroll_->setWidget(page_view_);
  scroll_->setWidgetResizable(false);
  layout->addWidget(scroll_, 1);
  const QPointer<PreviewPane> self(this);
  worker_ = std::make_unique<PreviewWorker>(
      [self](std::uint64_t generation, const QImage& page, int pages, const QString& caption,
             const QString& local, int marked, std::vector<ShownWord> words) {
        // From the pane's thread: drawn on the UI thread, if the pane is still there.
        QMetaObject::invokeMethod(
            self.data(),
            [self, generation, page, pages, caption, local, marked, words = std::move(words)] {
              if (self) self->Shown(generation, page, pages, caption, local, marked, words);
            },
            Qt::QueuedConnection);
      });
}

// The thread ends first, while the pane is whole: no answer of its can reach a pane going.
PreviewPane::~PreviewPane() {
  worker_.reset();
}

void PreviewPane::ShowFile(const std::string& db, const std::optional<kvtfiles::FileRef>& ref,
                           const std::string& whose, const std::string& chosen) {
  const bool same = ref_ && ref && ref_->sha256 == ref->sha256 && db_ == db;
  const bool kept_now = same && !chosen_.empty() && chosen.empty();
  db_ = db;
  whose_ = whose;
  ref_ = ref;
  chosen_ = chosen;
  // A file picked and kept since: the same page again, now with what was read of it.
  if (kept_now) Request();
  if (same) return;
  page_ = 0;
  pages_ = 0;
  local_.clear();
  open_->setEnabled(false);
  picture_ = {};
  words_.clear();
  page_view_->clear();
  page_view_->adjustSize();
  ++generation_;
  if (!ref_) {
    caption_->setText("Nessun file");
    if (on_shown) on_shown();
    return;
  }
  caption_->setText(Q(ref_->name) + ": lettura...");
  Request();
}

void PreviewPane::Prepare(const std::string& db, const kvtfiles::FileRef& ref) {
  PreviewWorker::Want want{0, db, {}, ref, {}, 0, TargetWidth(), zoom_, {}};
  want.prepare = true;
  worker_->Ask(std::move(want));
}

void PreviewPane::Request() {
  if (!ref_) return;
  worker_->Ask({++generation_, db_, whose_, *ref_, chosen_, page_, TargetWidth(), zoom_, terms_});
}

int PreviewPane::TargetWidth() const {
  return std::max(200, scroll_->viewport()->width() - 8);
}

void PreviewPane::Shown(std::uint64_t generation, const QImage& page, int pages,
                        const QString& caption, const QString& local, int marked,
                        const std::vector<ShownWord>& words) {
  if (generation != generation_) return;  // an answer to a request since replaced
  pages_ = pages;
  marked_ = marked;
  words_ = words;
  local_ = local;
  open_->setEnabled(!local_.isEmpty());
  caption_->setText(caption);
  picture_ = page;
  Draw();
  if (on_shown) on_shown();
}

void PreviewPane::NextPage() {
  if (page_ + 1 >= pages_) return;
  ++page_;
  Request();
}

void PreviewPane::PreviousPage() {
  if (page_ == 0) return;
  --page_;
  Request();
}

void PreviewPane::ZoomIn() {
  zoom_ = std::min(8.0, (zoom_ > 0 ? zoom_ : 1.0) * 1.25);
  Request();
}

void PreviewPane::ZoomOut() {
  zoom_ = std::max(0.1, (zoom_ > 0 ? zoom_ : 1.0) / 1.25);
  Request();
}

void PreviewPane::FitWidth() {
  zoom_ = 0;
  Request();
}

const PreviewPane::ShownWord* PreviewPane::WordAt(QPoint at) const {
  for (const auto& w : words_) {
    if (w.box.contains(at)) return &w;
  }
  return nullptr;
}

QPoint PreviewPane::OnScreen(QPoint on_picture) const {
  // The picture sits centred in the label: its corner is where the label's spare room ends.
  return on_picture + QPoint((page_view_->width() - picture_.width()) / 2,
                             (page_view_->height() - picture_.height()) / 2);
}

bool PreviewPane::eventFilter(QObject* watched, QEvent* event) {
  if (watched == page_view_ && !picture_.isNull()) {
    const QPoint corner = OnScreen({0, 0});
    const auto* m = event->type() == QEvent::MouseMove ||
                            event->type() == QEvent::MouseButtonPress ||
                            event->type() == QEvent::MouseButtonRelease
                        ? static_cast<QMouseEvent*>(event)
                        : nullptr;
    const QPoint at = m ? m->position().toPoint() - corner : QPoint();
    if (event->type() == QEvent::MouseMove) {
      if (pressed_.x() >= 0 && (at - pressed_).manhattanLength() > 4) {
        if (!band_) band_ = new QRubberBand(QRubberBand::Rectangle, page_view_);
        band_->setGeometry(QRect(pressed_ + corner, at + corner).normalized());
        band_->show();
      }
      page_view_->setCursor(pressed_.x() >= 0 ? Qt::CrossCursor
                            : WordAt(at)      ? Qt::PointingHandCursor
                                              : Qt::ArrowCursor);
    } else if (event->type() == QEvent::MouseButtonPress && m->button() == Qt::LeftButton) {
      pressed_ = at;
      return true;
    } else if (event->type() == QEvent::MouseButtonRelease && m->button() == Qt::LeftButton &&
               pressed_.x() >= 0) {
      const QPoint from = pressed_;
      pressed_ = {-1, -1};
      const bool dragged = band_ && band_->isVisible();
      if (band_) band_->hide();
      if (!on_word) return true;
      const double w = picture_.width(), h = picture_.height();
      if (!dragged) {
        if (const ShownWord* word = WordAt(at)) {
          const QRect b = word->box;
          on_word(word->text.toStdString(), page_ + 1,
                  QRectF(b.x() / w, b.y() / h, b.width() / w, b.height() / h));
        }
        return true;
      }
      // The words the box covers the most of, in reading order.
      const QRect box = QRect(from, at).normalized();
      std::string text;
      QRect covered;
      for (const auto& word : words_) {
        const QRect both = word.box.intersected(box);
        if (both.isEmpty() ||
            both.width() * both.height() * 2 < word.box.width() * word.box.height())
          continue;
        text += (text.empty() ? "" : " ") + word.text.toStdString();
        covered = covered.isNull() ? word.box : covered.united(word.box);
      }
      const QRect place = covered.isNull() ? box : covered;
      on_word(text, page_ + 1,
              QRectF(place.x() / w, place.y() / h, place.width() / w, place.height() / h));
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void PreviewPane::MarkProposed(int page, const QRectF& place) {
  if (std::pair(page, place) == proposed_) return;
  proposed_ = {page, place};
  Draw();
}

void PreviewPane::Draw() {
  if (picture_.isNull()) {
    page_view_->setPixmap(QPixmap());
  } else if (proposed_.second.isEmpty() || proposed_.first != page_ + 1) {
    page_view_->setPixmap(QPixmap::fromImage(picture_));
  } else {
    QPixmap marked = QPixmap::fromImage(picture_);
    QPainter painter(&marked);
    const QRectF& p = proposed_.second;
    const QRectF box(p.x() * picture_.width() - 3, p.y() * picture_.height() - 3,
                     p.width() * picture_.width() + 6, p.height() * picture_.height() + 6);
    painter.fillRect(box, QColor(255, 170, 0, 60));
    painter.setPen(QPen(QColor(230, 120, 0), 2));
    painter.drawRect(box);
    page_view_->setPixmap(marked);
  }
  page_view_->adjustSize();
}

void PreviewPane::Refresh() {
  if (caption_->text().contains("non ancora letto")) Request();
}

void PreviewPane::Highlight(std::vector<kvtengine::WordTerm> terms) {
  terms_ = std::move(terms);
  Request();
}

bool PreviewPane::OpenOutside() {
  if (local_.isEmpty()) return false;
  QDesktopServices::openUrl(QUrl::fromLocalFile(local_));
  return true;
}

}  // namespace kvtdesk
