// A scan kept with its invoice in the desk: attached while typing, seen beside the form as it
// is typed, followed by the navigator, opened from another clerk's program; and files that
// cannot be shown only say so.
#include <QApplication>
#include <QDockWidget>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTableWidget>
#include <QTest>
#include <fstream>

#include "archives/sample_archive.h"
#include "common/document_files.h"
#include "common/open_engine.h"
#include "desk_fixture.h"
#include "desk_window.h"
#include "document_generator.h"
#include "engine/files/sha256.h"
#include "host/qt/qt_desktop.h"
#include "pg_test_server.h"
#include "runtime/dictionary.h"
#include "temp_dir.h"
#include "test_support.h"

namespace kvtdesk {
namespace {

namespace sample = kvtarchive::sample;
using kvthost::qt::QtDesktop;

// A PDF of `pages` A4 pages, each saying its number.
void WritePdf(const QString& path, int pages) {
  QPdfWriter pdf(path);
  pdf.setPageSize(QPageSize(QPageSize::A4));
  QPainter p(&pdf);
  for (int i = 1; i <= pages; ++i) {
    if (i > 1) pdf.newPage();
    p.setFont(QFont("DejaVu Sans", 28));
    p.drawText(QRect(0, 0, pdf.width(), pdf.height() / 3), Qt::AlignCenter,
               QString("Fattura 1026 - pagina %1").arg(i));
  }
}

// PNG's CRC-32 of a chunk's type and data, so that an edited header still reads as valid.
std::uint32_t Crc32(const char* bytes, std::size_t n) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < n; ++i) {
    crc ^= static_cast<unsigned char>(bytes[i]);
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class DeskFilesTest : public DeskOnSample {
 protected:
  void SetUp() override {
    OpenDesk(1200, 700);
    if (!window_) return;  // skipped: no PostgreSQL server
    window_->PreviewDock()->show();
    window_->show();
    QApplication::processEvents();
  }
  // What the preview says once its thread has answered.
  std::string PreviewSays(const std::string& part, DeskWindow* w = nullptr) {
    w = w ? w : window_.get();
    (void)QTest::qWaitFor(
        [&] { return w->Preview()->Caption().contains(QString::fromStdString(part)); }, 10000);
    return w->Preview()->Caption().toStdString();
  }
  std::string LastMessage() {
    return desktop_->Recorded().empty() ? "" : desktop_->Recorded().back().prompt;
  }
  // Invoice 1026 of 05/12/2026 typed as a clerk types it; the person, to go on with.
  kvthost::IPerson& TypeInvoice() {
    auto& p = window_->Work()->Person();
    p.Type("1026");
    p.Tab();
    p.PickDate(kvt::Variant(kvt::MakeDate(2026, 12, 5)));
    p.Tab();
    p.Choose("FAT");
    return p;
  }
};

TEST_P(DeskFilesTest, AScanIsKeptWithItsInvoiceSeenWhileTypingAndOpenedElsewhere) {
  const std::string scan = dir_.File("scansione 1026.pdf");
  WritePdf(QString::fromStdString(scan), 3);
  auto& p = TypeInvoice();
  ASSERT_TRUE(window_->AttachFile(scan));
  EXPECT_THAT(PreviewSays("pagina 1 di 3"), ::testing::HasSubstr("scansione 1026.pdf"));
  EXPECT_FALSE(window_->Preview()->Picture().isNull());
  // Typing goes on while pages are drawn; the next page is asked for by key.
  p.Focus("Cliente");
  p.Type("acme");
  window_->Preview()->NextPage();
  PreviewSays("pagina 2 di 3");
  const QImage grabbed = window_->grab().toImage();
  grabbed.save(QString::fromStdString(dir_.File("desk-preview.png")));
  if (const char* keep = std::getenv("KVT_DESK_PREVIEW_PNG")) grabbed.save(keep);
  ASSERT_TRUE(window_->Save()) << LastMessage();
  const std::int32_t id = window_->Correcting();

  // Another scan makes a new version; the history names each version's file by its name and
  // brings the first one back.
  const std::string second = dir_.File("scansione 1026 bis.pdf");
  WritePdf(QString::fromStdString(second), 1);
  ASSERT_TRUE(window_->AttachFile(second));
  PreviewSays("pagina 1 di 1");
  ASSERT_TRUE(window_->Save()) << LastMessage();
  window_->ShowHistory();
  ASSERT_NE(window_->History(), nullptr);
  QString cells;
  const QTableWidget* table = window_->History()->Values();
  for (int r = 0; r < table->rowCount(); ++r) {
    for (int c = 0; c < table->columnCount(); ++c) {
      if (table->item(r, c)) cells += table->item(r, c)->text() + "|";
    }
  }
  EXPECT_TRUE(cells.contains("scansione 1026 bis.pdf (sha256 ")) << cells.toStdString();
  ASSERT_TRUE(window_->RestoreVersion(id, 1, 2));
  EXPECT_THAT(PreviewSays("pagina 1 di 3"), ::testing::HasSubstr("scansione 1026.pdf"));

  // A new document has no file; the navigator brings the invoice and its scan back.
  window_->NewDocument();
  PreviewSays("Nessun file");
  window_->Move(DeskWindow::Step::kLast);
  PreviewSays("pagina 1 di 3");

  // Another clerk's program (on PostgreSQL another computer) opens the same bytes.
  DeskWindow other(db_, sample::kArchive, sample::kReviewForm);
  other.Correct(id);
  PreviewSays("pagina 1 di 3", &other);
  auto engine = kvtapp::OpenEngine(db_, false);
  const auto values = std::dynamic_pointer_cast<kvt::Dictionary>(engine->LoadDocument(id));
  const auto ref = kvtfiles::ParseFileRef(kvt::JoinText(values->Item("Allegato")));
  ASSERT_TRUE(ref);
  kvtapp::WriteKeptFile(*engine, ref->sha256, "", dir_.File("back.pdf"), {});
  EXPECT_EQ(Bytes(dir_.File("back.pdf")), Bytes(scan));
}

TEST_P(DeskFilesTest, AFileIsReadInTheBackgroundFoundByItsWordsAndTheyAreMarkedOnItsPage) {
  const std::string scan = dir_.File("fattura.pdf");
  WritePdf(QString::fromStdString(scan), 2);
  auto& p = TypeInvoice();
  p.Focus("Cliente");
  p.Type("acme");
  ASSERT_TRUE(window_->AttachFile(scan));
  // Picked, not kept yet: nothing is read of it.
  EXPECT_THAT(PreviewSays("pagina 1 di 2"), ::testing::Not(::testing::HasSubstr("letto")));
  ASSERT_TRUE(window_->Save()) << LastMessage();
  // Kept: read in the background, and the pane says so once it is.
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        kvtfiles::FileReading r;
        return kvtapp::OpenEngine(db_, false)->FindReading(kvtfiles::Sha256Of(Bytes(scan)), r);
      },
      20000));
  window_->NewDocument();
  PreviewSays("Nessun file");

  window_->FindDocuments();
  QTest::keyClicks(window_->DocumentWords(), "\"fattura 1026\" pag*");
  ASSERT_TRUE(QTest::qWaitFor([&] { return window_->FoundText() == QString("1 documento"); }, 3000))
      << window_->FoundText().toStdString();
  QTest::keyClick(window_->DocumentWords(), Qt::Key_Return);
  QApplication::processEvents();
  EXPECT_EQ(window_->Correcting(), 1);
  const std::string caption = PreviewSays("pagina 1 di 2");
  EXPECT_THAT(caption, ::testing::Not(::testing::HasSubstr("non ancora letto")));
  // "Fattura", "1026" and "pagina" marked on the page (as the navigator goes on, on every
  // page of the documents found).
  EXPECT_TRUE(QTest::qWaitFor([&] { return window_->Preview()->Marked() == 3; }, 5000))
      << window_->Preview()->Marked();
  window_->Preview()->NextPage();
  PreviewSays("pagina 2 di 2");
  EXPECT_EQ(window_->Preview()->Marked(), 3);
  if (const char* keep = std::getenv("KVT_DESK_WORDS_PNG")) window_->grab().toImage().save(keep);

  // Words that are on no page find nothing; no word at all is said.
  window_->FindDocuments();
  window_->DocumentWords()->setText("bolla");
  EXPECT_TRUE(QTest::qWaitFor([&] { return window_->FoundText().startsWith("0 "); }, 3000))
      << window_->FoundText().toStdString();
  window_->DocumentWords()->setText("\" * \"");
  EXPECT_TRUE(QTest::qWaitFor([&] { return window_->FoundText().startsWith("Parole: "); }, 3000))
      << window_->FoundText().toStdString();
}

TEST_P(DeskFilesTest, AWordClickedOnThePageIsTypedIntoTheFocusedFieldThroughItsRules) {
  const std::string scan = dir_.File("fattura.pdf");
  {
    QPdfWriter pdf(QString::fromStdString(scan));
    pdf.setPageSize(QPageSize(QPageSize::A4));
    QPainter painter(&pdf);
    painter.setFont(QFont("DejaVu Sans", 24));
    painter.drawText(QRect(0, 0, pdf.width(), pdf.height() / 3), Qt::AlignCenter,
                     "Fattura 2031 del 05.12.26 totale 1.234,50");
  }
  auto& p = TypeInvoice();
  p.Focus("Cliente");
  p.Type("acme");
  ASSERT_TRUE(window_->AttachFile(scan));
  ASSERT_TRUE(window_->Save()) << LastMessage();
  const std::int32_t id = window_->Correcting();
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        kvtfiles::FileReading r;
        return kvtapp::OpenEngine(db_, false)->FindReading(kvtfiles::Sha256Of(Bytes(scan)), r);
      },
      20000));
  window_->Preview()->Refresh();
  ASSERT_TRUE(QTest::qWaitFor([&] { return window_->Preview()->Words().size() == 6u; }, 5000))
      << window_->Preview()->Words().size() << " " << window_->Preview()->Caption().toStdString();
  auto click = [&](const QString& word) {
    for (const auto& w : window_->Preview()->Words()) {
      if (w.text != word) continue;
      QTest::mouseClick(window_->Preview()->PageView(), Qt::LeftButton, {},
                        window_->Preview()->OnScreen(w.box.center()));
      QApplication::processEvents();
      return;
    }
    ADD_FAILURE() << word.toStdString();
  };
  auto value = [&](const char* field) {
    return kvt::JoinText(window_->Work()->Fields().Item(kvt::Variant(field))->Value());
  };
  // The number over the one typed (a field entered has its text selected), as typed.
  p.Focus("NumeroDocumento");
  click("2031");
  EXPECT_EQ(value("NumeroDocumento"), "2031");
  // The label a box took with a number is not part of it.
  EXPECT_TRUE(window_->PutWords("N. 2032", 1, QRectF(0.5, 0.2, 0.1, 0.02)));
  EXPECT_EQ(value("NumeroDocumento"), "2032");
  click("2031");
  // A word the field does not take is refused by the field's own rule (digits only), and the
  // field keeps what it held.
  p.Focus("Quantita");
  const std::string quantity = value("Quantita");
  click("Fattura");
  EXPECT_EQ(value("Quantita"), quantity);
  EXPECT_THAT(window_->StatusText().toStdString(), ::testing::HasSubstr("solo valori numerici"));
  // A date written with points and two digits is the date; a word that is none is said.
  p.Focus("DataDocumento");
  click("05.12.26");
  EXPECT_EQ(value("DataDocumento"), "05/12/2026");
  click("totale");
  EXPECT_THAT(window_->StatusText().toStdString(), ::testing::HasSubstr("non è una data"));
  // Its label taken with it in a box is passed over; a number before it is not.
  EXPECT_TRUE(window_->PutWords("del 7 dicembre 2026", 1, QRectF(0.5, 0.3, 0.1, 0.02)));
  EXPECT_EQ(value("DataDocumento"), "07/12/2026");
  EXPECT_FALSE(window_->PutWords("2031 del 05.12.26", 1, QRectF(0.5, 0.3, 0.1, 0.02)));
  EXPECT_EQ(value("DataDocumento"), "07/12/2026");
  // A grouped number is the number.
  p.Focus("Totale");
  click("1.234,50");
  EXPECT_EQ(value("Totale"), "1234,50");
  ASSERT_TRUE(window_->Save()) << LastMessage();
  EXPECT_EQ(window_->Correcting(), id);
}

TEST_P(DeskFilesTest, FilesThatCannotBeKeptOrShownOnlySaySo) {
  // Nothing to keep: refused, the field as it was.
  const std::string empty = dir_.File("vuoto.pdf");
  std::ofstream(empty).flush();
  EXPECT_FALSE(window_->AttachFile(empty));
  EXPECT_THAT(LastMessage(), ::testing::HasSubstr("non si può allegare"));
  EXPECT_EQ(window_->Preview()->Caption().toStdString(), "Nessun file");

  // A PDF that is not one: kept as the person chose it, shown as damaged.
  const std::string broken = dir_.File("rotto.pdf");
  std::ofstream(broken) << "%PDF-1.7\n1 0 obj << /Type /Pages /Kids [1 0 R] /Count 1 >>\n";
  ASSERT_TRUE(window_->AttachFile(broken));
  EXPECT_THAT(PreviewSays("danneggiato"), ::testing::HasSubstr("rotto.pdf"));

  // A page tree that is its own child and claims 100,000 pages: shown as damaged or as what
  // it holds, never a hang.
  const std::string bomb = dir_.File("bomba.pdf");
  std::ofstream(bomb) << "%PDF-1.7\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
                         "2 0 obj << /Type /Pages /Kids [2 0 R] /Count 100000 >> endobj\n"
                         "trailer << /Root 1 0 R >>\n%%EOF\n";
  ASSERT_TRUE(window_->AttachFile(bomb));
  EXPECT_THAT(PreviewSays("bomba.pdf ("), ::testing::HasSubstr("application/pdf"));

  // An image whose header claims 100,000 × 100,000 pixels is never decoded.
  QImage small(8, 8, QImage::Format_RGB32);
  small.fill(Qt::white);
  const QString png = QString::fromStdString(dir_.File("enorme.png"));
  ASSERT_TRUE(small.save(png));
  {
    std::string bytes = Bytes(png.toStdString());
    const char huge[8] = {0x00, 0x01, static_cast<char>(0x86), static_cast<char>(0xA0),
                          0x00, 0x01, static_cast<char>(0x86), static_cast<char>(0xA0)};
    bytes.replace(16, 8, huge, 8);                           // IHDR's width and height
    const std::uint32_t crc = Crc32(bytes.data() + 12, 17);  // "IHDR" and its 13 bytes
    for (int i = 0; i < 4; ++i) bytes[29 + i] = static_cast<char>(crc >> (24 - 8 * i));
    std::ofstream(png.toStdString(), std::ios::binary) << bytes;
  }
  ASSERT_TRUE(window_->AttachFile(png.toStdString()));
  EXPECT_THAT(PreviewSays("troppo grande"), ::testing::HasSubstr("100000 × 100000"));

  // A scan of two pages, as a multi-page TIFF: its pages turned by key.
  kvttestdata::Document two = kvttestdata::MakeDocument(1, 1);
  for (int n = 1; two.pages < 2; ++n) two = kvttestdata::MakeDocument(1, 3 * n + 1);
  const std::string tiff = dir_.File(two.stem + ".tif");
  kvttestdata::WriteTiff(kvttestdata::Scan(two, 200, 3), 200, tiff);
  ASSERT_TRUE(window_->AttachFile(tiff));
  EXPECT_THAT(PreviewSays("pagina 1 di 2"), ::testing::HasSubstr("image/tiff"));
  window_->Preview()->NextPage();
  PreviewSays("pagina 2 di 2");
  EXPECT_FALSE(window_->Preview()->Picture().isNull());

  // Any other file: its name and size, and Apri.
  const std::string text = dir_.File("nota.txt");
  std::ofstream(text) << "Consegna il lunedì.\n";
  ASSERT_TRUE(window_->AttachFile(text));
  EXPECT_THAT(PreviewSays("nessuna anteprima"), ::testing::HasSubstr("nota.txt"));
}

INSTANTIATE_TEST_SUITE_P(Databases, DeskFilesTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "PostgreSql" : "File"; });

}  // namespace
}  // namespace kvtdesk
