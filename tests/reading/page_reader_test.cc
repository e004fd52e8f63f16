// Reading the words off the pages: a PDF's own text with its boxes, a scan by OCR nearly as
// well, and whatever is not a page (or is too large to be one) said, not read. The workers read
// every kept file once, and a run stopped halfway goes on where it stopped.
#include <gtest/gtest.h>

#define ZX_USE_UTF8 1
#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QPdfDocument>
#include <QPdfWriter>
#include <fstream>
#include <map>

#include "document_generator.h"
#include "engine/common/file_store.h"
#include "engine/common/forwarding_engine.h"
#include "engine/sqlite/sqlite_engine.h"
#include "reading/barcodes.h"
#include "reading/intake.h"
#include "reading/page_reader.h"
#include "reading/page_reading.h"
#include "temp_dir.h"

namespace kvtread {
namespace {

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Png(const QImage& image) {
  QByteArray out;
  QBuffer buffer(&out);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return out.toStdString();
}

// The words of `reading`, counted.
std::map<std::string, int> Counted(const kvtfiles::FileReading& reading) {
  std::map<std::string, int> out;
  for (const auto& p : reading.pages) {
    for (const auto& w : p.words) ++out[w.text];
  }
  return out;
}

class PageReaderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { set_ = kvttestdata::WriteSet(dir_->Path(), 3, 11); }
  static void TearDownTestSuite() { dir_.reset(); }
  static inline std::unique_ptr<kvt::testing::TempDir> dir_ =
      std::make_unique<kvt::testing::TempDir>();
  static inline std::vector<kvttestdata::WrittenDocument> set_;
  Ocr ocr_;
};

TEST_F(PageReaderTest, APdfsOwnTextIsReadWithItsBoxesAndAScanByOcrNearlyAsWell) {
  for (const auto& w : set_) {
    const kvtfiles::FileReading pdf = ReadPages(Bytes(w.pdf), ocr_);
    ASSERT_TRUE(pdf.failure.empty()) << pdf.failure;
    ASSERT_EQ(static_cast<int>(pdf.pages.size()), w.document.pages) << w.pdf;
    EXPECT_EQ(pdf.reader, ReaderName());
    // A4 in points; every word within its page, with its letters' box.
    for (const auto& page : pdf.pages) {
      EXPECT_EQ(page.width, 595);
      EXPECT_EQ(page.height, 842);
      for (const auto& word : page.words) {
        EXPECT_GT(word.width, 0) << word.text;
        EXPECT_TRUE(word.x >= 0 && word.x + word.width <= page.width) << word.text;
        EXPECT_TRUE(word.y >= 0 && word.y + word.height <= page.height) << word.text;
      }
    }
    std::string text;
    for (const auto& p : pdf.pages) text += p.Text() + "\n";
    for (const char* field : {"NumeroDocumento", "CodiceFiscale", "Totale"}) {
      const std::string value = w.document.Value(field);
      if (!value.empty()) {
        EXPECT_NE(text.find(value), std::string::npos) << field;
      }
    }

    // Scanned at 300 dpi: nearly every word the PDF holds, on as many pages.
    const std::string tiff = dir_->File("300.tif");
    kvttestdata::WriteTiff(kvttestdata::Scan(w.document, 300, 5), 300, tiff);
    const kvtfiles::FileReading scan = ReadPages(Bytes(tiff), ocr_);
    ASSERT_TRUE(scan.failure.empty()) << scan.failure;
    ASSERT_EQ(scan.pages.size(), pdf.pages.size());
    EXPECT_NEAR(scan.pages[0].width, 2480, 2);  // its pixels
    const auto truth = Counted(pdf), read = Counted(scan);
    int all = 0, right = 0;
    for (const auto& [word, n] : truth) {
      all += n;
      const auto it = read.find(word);
      right += it == read.end() ? 0 : std::min(n, it->second);
    }
    EXPECT_GE(right, all * 95 / 100) << w.scan << ": " << right << " of " << all;
  }
}

TEST_F(PageReaderTest, APdfPageWithoutTextIsDrawnAndReadInItsPoints) {
  kvt::testing::TempDir dir;
  // A PDF whose page is a picture of a page, as a scanner's PDF is.
  const QImage scan(QString::fromStdString(set_[0].scan));
  {
    QPdfWriter writer(QString::fromStdString(dir.File("scan.pdf")));
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins({0, 0, 0, 0});
    QPainter painter(&writer);
    painter.drawImage(QRect(0, 0, writer.width(), writer.height()), scan);
  }
  const kvtfiles::FileReading r = ReadPages(Bytes(dir.File("scan.pdf")), ocr_);
  ASSERT_TRUE(r.failure.empty()) << r.failure;
  ASSERT_EQ(r.pages.size(), 1u);
  EXPECT_EQ(r.pages[0].width, 595);
  EXPECT_NE(r.pages[0].Text().find(set_[0].document.Value("NumeroDocumento")), std::string::npos);
  for (const auto& word : r.pages[0].words) EXPECT_LE(word.x + word.width, 600) << word.text;
}

TEST_F(PageReaderTest, APageScannedUpsideDownIsReadTurnedWithItsBoxesOnThePageAsScanned) {
  const auto& d = set_[0].document;
  auto pages = kvttestdata::Scan(d, 300, 3);
  const QImage upright = pages[0];
  const kvtfiles::FileReading straight = ReadPages(Png(upright), ocr_);
  const kvtfiles::FileReading turned = ReadPages(Png(upright.mirrored(true, true)), ocr_);
  ASSERT_EQ(turned.pages.size(), 1u);
  const std::string text = turned.pages[0].Text();
  EXPECT_NE(text.find(d.Value("NumeroDocumento")), std::string::npos) << text;
  EXPECT_NE(text.find(d.Value("CodiceFiscale")), std::string::npos) << text;
  // The first word (the title, top left as read) is bottom right on the sheet as scanned.
  ASSERT_FALSE(turned.pages[0].words.empty());
  const auto& title = turned.pages[0].words[0];
  const auto& upright_title = straight.pages[0].words[0];
  EXPECT_EQ(title.text, upright_title.text);
  EXPECT_NEAR(title.x + title.width, upright.width() - upright_title.x, 12);
  EXPECT_NEAR(title.y + title.height, upright.height() - upright_title.y, 12);
}

TEST_F(PageReaderTest, WhatIsNoPageOrTooLargeOrTooSlowIsSaidNotRead) {
  const std::string pdf = Bytes(set_[0].pdf);
  EXPECT_NE(ReadPages("testo qualunque, non un file di pagine", ocr_).failure.find("non è un PDF"),
            std::string::npos);
  EXPECT_NE(ReadPages(pdf.substr(0, pdf.size() / 3), ocr_).failure.find("danneggiato"),
            std::string::npos);
  // 10,000 pixels wide and as tall: refused before it is decoded.
  QImage huge(10000, 10000, QImage::Format_Mono);
  huge.fill(1);
  const kvtfiles::FileReading big = ReadPages(Png(huge), ocr_, {.max_pixels = 50'000'000});
  EXPECT_NE(big.failure.find("troppo grande"), std::string::npos) << big.failure;
  EXPECT_TRUE(big.pages.empty());
  // A page over its time is set aside with the reason; a blank page has no words.
  const std::string scan = Bytes(set_[1].scan);
  const kvtfiles::FileReading slow =
      ReadPages(scan, ocr_, {.ocr_time = std::chrono::milliseconds(1)});
  EXPECT_NE(slow.failure.find("secondi"), std::string::npos) << slow.failure;
  QImage blank(1240, 1754, QImage::Format_Grayscale8);
  blank.fill(255);
  const kvtfiles::FileReading empty = ReadPages(Png(blank), ocr_);
  EXPECT_TRUE(empty.failure.empty());
  ASSERT_EQ(empty.pages.size(), 1u);
  EXPECT_TRUE(empty.pages[0].words.empty());
  // Pages past the most read are said.
  const kvtfiles::FileReading first = ReadPages(pdf, ocr_, {.max_pages = 1});
  if (set_[0].document.pages > 1) {
    EXPECT_NE(first.failure.find("prime 1"), std::string::npos);
  }
}

TEST_F(PageReaderTest, TheWorkersReadEveryKeptFileOnceAndGoOnWhereTheyStopped) {
  kvt::testing::TempDir dir;
  const std::string db = dir.File("a.kvtdb");
  auto engine = kvtsqlite::SqliteEngine::Open(db, true);
  std::vector<std::string> kept;
  for (const auto& w : set_) {
    kept.push_back(kvtengine::KeepFile(*engine, w.pdf).sha256);
    kept.push_back(kvtengine::KeepFile(*engine, w.scan).sha256);
  }
  auto connect = [&] { return kvtsqlite::SqliteEngine::Open(db, false); };
  {
    // Stopped after its first file: that one is kept, the others wait.
    PageReading reading(connect, 1);
    reading.Start([&](const ReadProgress&) { reading.Stop(); });
    reading.Wait();
  }
  EXPECT_EQ(engine->FilesToRead(ReaderName(), "", 100).size(), kept.size() - 1);
  ReadProgress last;
  PageReading rest(connect, 2);
  rest.Start([&](const ReadProgress& p) { last = p; });
  rest.Wait();
  EXPECT_EQ(last.files, static_cast<std::int64_t>(kept.size() - 1));
  EXPECT_EQ(last.failed, 0);
  EXPECT_TRUE(engine->FilesToRead(ReaderName(), "", 100).empty());
  for (const auto& sha : kept) {
    kvtfiles::FileReading r;
    ASSERT_TRUE(engine->FindReading(sha, r));
    EXPECT_FALSE(r.pages.empty());
  }
}

// An engine whose calls named `fail` raise, as a program killed there would stop.
class Killed final : public kvtengine::ForwardingEngine {
 public:
  Killed(std::shared_ptr<kvtengine::ArchiveEngine> inner, std::string fail)
      : ForwardingEngine(std::move(inner)), fail_(std::move(fail)) {}
  void Before(const char* call) override {
    if (fail_ == call) throw std::runtime_error("killed");
  }

 private:
  std::string fail_;
};

TEST_F(PageReaderTest, AStackIsSplitAtBlankPagesAndEveryPageIsInTheLedgerOnceWhateverHappens) {
  kvt::testing::TempDir dir;
  // Three documents (one of two pages), each followed by a blank sheet, grey and specked as
  // the scanner gives it.
  std::vector<QImage> pages;
  QImage blank(1654, 2339, QImage::Format_Grayscale8);
  blank.fill(244);
  for (int i = 0; i < 40; ++i) blank.setPixel(97 * i % 1654, 131 * i % 2339, 60);
  blank.setDotsPerMeterX(7874);
  blank.setDotsPerMeterY(7874);
  int expected_pages = 0;
  std::vector<int> document_pages;
  for (int n = 1; n <= 3; ++n) {
    auto scan = kvttestdata::Scan(kvttestdata::MakeDocument(21, n), 200, n);
    document_pages.push_back(static_cast<int>(scan.size()));
    for (auto& p : scan) pages.push_back(std::move(p));
    if (n < 3) pages.push_back(blank);
  }
  expected_pages = static_cast<int>(pages.size());
  const std::string stack = dir.File("pila.tif");
  kvttestdata::WriteTiff(pages, 200, stack);
  const std::string db = dir.File("a.kvtdb");
  auto engine = kvtsqlite::SqliteEngine::Open(db, true);

  // Killed as its items were added: the file and its reading are kept, nothing queued; run
  // again, the stack is queued once, not read again.
  Killed killed(engine, "PutIntake");
  EXPECT_THROW(TakeIn(killed, ocr_, "Fatture", stack, Split::kBlankPages), std::runtime_error);
  EXPECT_TRUE(engine->IntakeLedger("Fatture").empty());
  Killed no_reading(engine, "KeepReading");  // a second reading would be a call to this
  const TakenIn in = TakeIn(no_reading, ocr_, "Fatture", stack, Split::kBlankPages);
  EXPECT_TRUE(in.added);
  EXPECT_EQ(in.documents, 3);
  EXPECT_EQ(in.set_aside, 2);
  EXPECT_EQ(in.pages, expected_pages);
  EXPECT_FALSE(TakeIn(*engine, ocr_, "Fatture", stack, Split::kBlankPages).added);
  // The documents' pages cut as they were read, and cut again after the kill from the stack
  // drawn anew, are the same bytes: the stack and three files, nothing kept twice.
  int kept = 0;
  engine->ListFiles([&](const kvtfiles::StoredFile&) { ++kept; });
  EXPECT_EQ(kept, 4);

  const auto ledger = engine->IntakeLedger("Fatture");
  ASSERT_EQ(ledger.size(), 5u);
  std::int32_t next = 1;
  std::vector<int> queued;
  for (const auto& i : ledger) {
    EXPECT_EQ(i.first_page, next) << "a page lost or doubled";
    next += i.pages;
    if (i.state == kvtengine::IntakeItem::State::kQueued) queued.push_back(i.pages);
    if (i.state == kvtengine::IntakeItem::State::kSetAside) {
      EXPECT_EQ(i.reason, "pagina bianca (separatore)");
    }
  }
  EXPECT_EQ(next, expected_pages + 1);
  EXPECT_EQ(queued, document_pages);
  // Two readers at once read the stack as one does, page for page.
  {
    Ocr second;
    std::string bytes;
    kvtengine::ReadKeptFile(*engine, ledger[0].sha256, "",
                            [&](std::string_view piece) { bytes.append(piece); });
    const auto both = ReadPages(bytes, std::vector<Ocr*>{&ocr_, &second});
    const auto one = ReadPages(bytes, ocr_);
    ASSERT_EQ(both.pages.size(), one.pages.size());
    for (std::size_t i = 0; i < one.pages.size(); ++i) {
      EXPECT_EQ(both.pages[i].Text(), one.pages[i].Text()) << i;
    }
    EXPECT_EQ(both.failure, one.failure);
  }
  // Each document's pages are a PDF of their own, read with the stack (never again), and are
  // the scans themselves: the same picture, page by page.
  kvtfiles::FileReading stack_read;
  ASSERT_TRUE(engine->FindReading(ledger[0].sha256, stack_read));
  for (const auto& i : ledger) {
    if (i.state != kvtengine::IntakeItem::State::kQueued) continue;
    kvtfiles::StoredFile cut;
    ASSERT_TRUE(engine->FindFile(i.pages_sha256, cut)) << i.first_page;
    EXPECT_EQ(cut.media_type, "application/pdf");
    EXPECT_EQ(cut.pages, i.pages);
    kvtfiles::FileReading read;
    ASSERT_TRUE(engine->FindReading(i.pages_sha256, read));
    ASSERT_EQ(read.pages.size(), static_cast<std::size_t>(i.pages));
    EXPECT_EQ(read.pages[0].Text(),
              stack_read.pages[static_cast<std::size_t>(i.first_page - 1)].Text());
  }
  {
    std::string bytes;
    kvtengine::ReadKeptFile(*engine, ledger[2].pages_sha256, "",
                            [&](std::string_view piece) { bytes.append(piece); });
    const std::string path = dir.File("taglio.pdf");
    std::ofstream(path, std::ios::binary) << bytes;
    QPdfDocument pdf;
    ASSERT_EQ(pdf.load(QString::fromStdString(path)), QPdfDocument::Error::None);
    const QImage& scan = pages[static_cast<std::size_t>(ledger[2].first_page - 1)];
    const QImage drawn = pdf.render(0, scan.size()).convertToFormat(QImage::Format_Grayscale8);
    const QImage grey = scan.convertToFormat(QImage::Format_Grayscale8);
    std::int64_t differ = 0;
    for (int y = 0; y < grey.height(); y += 7) {
      for (int x = 0; x < grey.width(); x += 7) {
        differ += std::abs(qGray(drawn.pixel(x, y)) - qGray(grey.pixel(x, y))) > 64;
      }
    }
    EXPECT_LT(differ, (grey.width() / 7) * (grey.height() / 7) / 100) << "not the scan";
  }
  // Whole, another archive gets the stack as one document.
  const TakenIn whole = TakeIn(*engine, ocr_, "Altro", stack, Split::kWhole);
  EXPECT_EQ(whole.documents, 1);
  EXPECT_EQ(whole.pages, expected_pages);
}

// A separator sheet: an A4 page at 200 dpi with a Code 128 barcode holding `text`.
QImage SeparatorSheet(const std::string& text) {
  const ZXing::BitMatrix bars =
      ZXing::MultiFormatWriter(ZXing::BarcodeFormat::Code128).setMargin(10).encode(text, 900, 200);
  QImage page(1654, 2339, QImage::Format_Grayscale8);
  page.fill(250);
  for (int y = 0; y < bars.height(); ++y) {
    for (int x = 0; x < bars.width(); ++x) {
      if (bars.get(x, y)) page.setPixel(300 + x, 600 + y, 0);
    }
  }
  page.setDotsPerMeterX(7874);
  page.setDotsPerMeterY(7874);
  return page;
}

TEST_F(PageReaderTest, AStackIsSplitAtSeparatorSheetsWhoseBarcodeMatchesAndOnlyThose) {
  kvt::testing::TempDir dir;
  std::vector<QImage> pages;
  auto add = [&](std::vector<QImage> more) {
    for (auto& p : more) pages.push_back(std::move(p));
  };
  add(kvttestdata::Scan(kvttestdata::MakeDocument(23, 1), 200, 1));
  // A code with control characters in it is kept clean; one the pattern does not match is a
  // page of the document like any other.
  add({SeparatorSheet("SEP-0001\x1b[31m")});
  add(kvttestdata::Scan(kvttestdata::MakeDocument(23, 2), 200, 2));
  add({SeparatorSheet("ORDINE-77")});
  const std::string stack = dir.File("pila.tif");
  kvttestdata::WriteTiff(pages, 200, stack);
  auto engine = kvtsqlite::SqliteEngine::Open(dir.File("a.kvtdb"), true);
  const TakenIn in = TakeIn(*engine, ocr_, "Fatture", stack, Split::kBarcode, "SEP-*");
  EXPECT_EQ(in.documents, 2);
  EXPECT_EQ(in.set_aside, 1);
  const auto ledger = engine->IntakeLedger("Fatture");
  ASSERT_EQ(ledger.size(), 3u);
  EXPECT_EQ(ledger[0].first_page, 1);
  EXPECT_EQ(ledger[1].state, kvtengine::IntakeItem::State::kSetAside);
  EXPECT_EQ(ledger[1].reason, "foglio separatore (codice SEP-0001[31m)");
  EXPECT_EQ(ledger[2].first_page + ledger[2].pages - 1, static_cast<int>(pages.size()));
  // The same stack in another archive, read before: its sheets are looked for again.
  EXPECT_EQ(TakeIn(*engine, ocr_, "Altro", stack, Split::kBarcode, "ORDINE-??").documents, 1);
  // No pattern given: the archive's own, else any barcode.
  engine->PutArchiveSetting("Terzo", kvtengine::kSeparatorSetting, "ORDINE-*");
  EXPECT_EQ(TakeIn(*engine, ocr_, "Terzo", stack, Split::kBarcode).documents, 1);
  EXPECT_EQ(TakeIn(*engine, ocr_, "Quarto", stack, Split::kBarcode).documents, 2);

  EXPECT_TRUE(AnyMatches({"SEP-0001"}, "SEP-*"));
  EXPECT_TRUE(AnyMatches({"x", "SEP-1"}, "SEP-?"));
  EXPECT_FALSE(AnyMatches({"SEP-10"}, "SEP-?"));
  EXPECT_FALSE(AnyMatches({}, "*"));
  EXPECT_TRUE(AnyMatches({"a*b"}, "a*b"));
}

}  // namespace
}  // namespace kvtread
