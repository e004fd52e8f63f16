// The document's file beside the form: a PDF's or an image's pages (TIFF's too), or for any
// other file its name, size and an "Apri" button. The file is read from the archive checked,
// and its pages drawn, on a thread of the pane's own with a connection of its own: the form
// never waits for a page, and a file that is damaged, huge or hostile only gets a message.
#pragma once

#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRect>
#include <QRubberBand>
#include <QScrollArea>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/common/document_search.h"
#include "engine/files/stored_file.h"

namespace kvtdesk {

class PreviewWorker;

class PreviewPane final : public QWidget {
 public:
  explicit PreviewPane(QWidget* parent = nullptr);
  ~PreviewPane() override;

  /// Shows the file `ref` names in the database `db` (a file or a connection string, opened
  /// again by the pane's thread), or, while it is only `chosen` and not kept yet, the file
  /// there; `whose` names it in messages. Nothing: the pane says the document has no file.
  void ShowFile(const std::string& db, const std::optional<kvtfiles::FileRef>& ref,
                const std::string& whose, const std::string& chosen = {});
  /// Makes the first page of the file `ref` names ready in the background, when nothing else
  /// is asked, to be shown at once if it is asked for next (the queue's next pages).
  void Prepare(const std::string& db, const kvtfiles::FileRef& ref);
  void NextPage();
  void PreviousPage();
  void ZoomIn();
  void ZoomOut();
  /// The page as wide as the pane.
  void FitWidth();
  /// Shows the page again when what was read of it may have changed (its words read since).
  void Refresh();
  /// Marks on every page shown the words read off it that `terms` searched for (none: no mark).
  void Highlight(std::vector<kvtengine::WordTerm> terms);
  /// How many words of the page shown are marked.
  int Marked() const { return marked_; }
  /// Opens a read-only copy of the file with the system's program for its type; false when
  /// the pane shows none.
  bool OpenOutside();

  /// The page shown (0: the first), the pages there are (0: none shown), and what the pane
  /// says above the page.
  int Page() const { return page_; }
  int Pages() const { return pages_; }
  QString Caption() const { return caption_->text(); }
  /// The picture of the page shown (null while none is).
  QImage Picture() const { return picture_; }
  /// Called on the UI thread each time a page has been drawn or a message shown.
  std::function<void()> on_shown;
  /// Called with the words the person took off the page shown: the word clicked on, or those a
  /// box dragged over covers (in reading order, a blank between them); `page` (from 1) and
  /// `place` (fractions of the page) say where they were. A box over no word says so.
  std::function<void(const std::string& words, int page, const QRectF& place)> on_word;
  /// Marks `place` (fractions of the page) on page `page` (from 1) in the proposals' colour, as
  /// where the focused field's proposed value was read; an empty place: no mark.
  void MarkProposed(int page, const QRectF& place);

  /// A word read off the page shown, where it is on its picture.
  struct ShownWord {
    QRect box;
    QString text;
  };
  /// The word of the page shown at `at` (the picture's pixels), or null.
  const ShownWord* WordAt(QPoint at) const;
  /// The words of the page shown, where they are.
  const std::vector<ShownWord>& Words() const { return words_; }
  /// Where a point of the page's picture is on the pane's widget that shows it.
  QPoint OnScreen(QPoint on_picture) const;
  /// The widget that shows the page.
  QWidget* PageView() const { return page_view_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Request();
  void Shown(std::uint64_t generation, const QImage& page, int pages, const QString& caption,
             const QString& local, int marked, const std::vector<ShownWord>& words);
  int TargetWidth() const;
  // The picture on the view, with the proposal's mark when it is on this page.
  void Draw();

  std::unique_ptr<PreviewWorker> worker_;
  QLabel* caption_;
  QScrollArea* scroll_;
  QLabel* page_view_;
  QPushButton* open_;
  std::string db_, whose_, chosen_;
  std::optional<kvtfiles::FileRef> ref_;
  std::uint64_t generation_ = 0;
  int page_ = 0, pages_ = 0;
  double zoom_ = 0;  // 0: as wide as the pane
  std::vector<kvtengine::WordTerm> terms_;
  int marked_ = 0;
  std::vector<ShownWord> words_;
  QPoint pressed_{-1, -1};           // where the left button went down on the picture
  QRubberBand* band_ = nullptr;      // the box being dragged
  std::pair<int, QRectF> proposed_;  // MarkProposed's page and place
  QImage picture_;
  QString local_;  // the checked copy the pane's thread made
};

}  // namespace kvtdesk
