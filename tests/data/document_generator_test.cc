// The test documents: the same seed gives the same documents, their values are the ones a
// clerk would type (a codice fiscale with its check letter), and the files are what they claim
// to be: a PDF and a multi-page grey TIFF of the right pages and size.
#include <gtest/gtest.h>

#include <QImageReader>
#include <fstream>
#include <set>

#include "document_generator.h"
#include "engine/files/file_facts.h"
#include "temp_dir.h"

namespace kvttestdata {
namespace {

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(DocumentGenerator, TheSameSeedGivesTheSameDocumentsOfEveryKind) {
  EXPECT_EQ(CodiceFiscaleCheck("RSSMRA85T10A562"), 'S');
  for (int n = 1; n <= 30; ++n) {
    const Document d = MakeDocument(42, n);
    EXPECT_EQ(d.fields, MakeDocument(42, n).fields);
    EXPECT_EQ(static_cast<int>(d.kind), (n - 1) % 3);
    if (d.kind == Kind::kLetter) continue;
    const std::string cf = d.Value("CodiceFiscale");
    ASSERT_EQ(cf.size(), 16u);
    EXPECT_EQ(cf.back(), CodiceFiscaleCheck(cf.substr(0, 15)));
  }
  EXPECT_NE(MakeDocument(42, 1).fields, MakeDocument(43, 1).fields);
}

TEST(DocumentGenerator, AStackHasFourKindsFromTwelveSuppliersEachValueWhereItIsPrinted) {
  std::set<int> kinds, suppliers;
  int pages = 0;
  for (int n = 1; n <= 50; ++n) {
    const Document d = MakeStackDocument(23, n);
    kinds.insert(static_cast<int>(d.kind));
    suppliers.insert(d.supplier);
    pages += d.pages + (n > 1);  // a blank sheet before each but the first
    ASSERT_EQ(d.fields.size(), 5u);
    EXPECT_EQ(d.Value("TipoDocumento"), d.kind == Kind::kCreditNote     ? "NC"
                                        : d.kind == Kind::kDeliveryNote ? "DDT"
                                                                        : "FAT");
    // A value printed is where the clerk is told to look, on the page; the supplier's name
    // heads it.
    for (const auto& [field, place] : d.places) {
      EXPECT_FALSE(d.Value(field).empty()) << field;
      EXPECT_TRUE(QRectF(0, 0, 595, 842).contains(place)) << field;
    }
    ASSERT_EQ(d.places.size(), 4u);
    EXPECT_LT(d.places[2].second.bottom(), 842 * 0.15);
    // The total as stored: cents after a comma, no thousands marked.
    const std::string total = d.Value("Totale");
    if (!total.empty()) {
      EXPECT_EQ(total.find('.'), std::string::npos) << total;
    }
  }
  EXPECT_EQ(kinds.size(), 4u);
  EXPECT_EQ(suppliers.size(), 12u);
  EXPECT_NEAR(pages, 200, 25);
}

TEST(DocumentGenerator, PdfsAndScansHaveTheirPagesAndLookScanned) {
  kvt::testing::TempDir dir;
  const auto set = WriteSet(dir.Path(), 6, 7);
  ASSERT_EQ(set.size(), 6u);
  bool two_pages = false;
  for (const auto& w : set) {
    const std::string pdf = Bytes(w.pdf), scan = Bytes(w.scan);
    EXPECT_EQ(kvtfiles::MediaTypeOf(pdf.substr(0, 4096)), "application/pdf");
    EXPECT_EQ(kvtfiles::MediaTypeOf(scan.substr(0, 4096)), "image/tiff");
    const std::int32_t pages = kvtfiles::TiffPages(kvtfiles::ReadAtBytes(scan), scan.size());
    EXPECT_EQ(pages, w.document.pages) << w.scan;
    two_pages = two_pages || pages == 2;
    QImageReader reader(QString::fromStdString(w.scan));
    EXPECT_EQ(reader.size(), QSize(1652, 2338));  // A4 at 200 dpi
    const QImage page = reader.read();
    ASSERT_FALSE(page.isNull()) << reader.errorString().toStdString();
    EXPECT_TRUE(page.isGrayscale());
  }
  EXPECT_TRUE(two_pages);  // some scans run over a page
  EXPECT_NE(Bytes(dir.File("verita.json")).find("\"NumeroDocumento\""), std::string::npos);
}

}  // namespace
}  // namespace kvttestdata
