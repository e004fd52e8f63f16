#include "reading/scans_pdf.h"

#include <QBuffer>
#include <QImageWriter>
#include <cstdio>
#include <stdexcept>

namespace kvtread {

EncodedPage EncodePage(const QImage& scan, int dpi) {
  EncodedPage page;
  page.width = scan.width();
  page.height = scan.height();
  page.dpi = dpi > 0 ? dpi : 300;
  if (scan.depth() == 1) {
    // One bit a pixel, 1 white, rows packed; a zlib stream after Qt's four bytes of length.
    page.kind = EncodedPage::Kind::kBits;
    const QImage bits =
        scan.convertToFormat(QImage::Format_Mono, QList<QRgb>{qRgb(0, 0, 0), qRgb(255, 255, 255)});
    QByteArray rows;
    const int row = (page.width + 7) / 8;
    rows.reserve(static_cast<qsizetype>(row) * page.height);
    for (int y = 0; y < page.height; ++y) {
      rows.append(reinterpret_cast<const char*>(bits.constScanLine(y)), row);
    }
    const QByteArray packed = qCompress(rows, 9);
    page.data.assign(packed.constData() + 4, static_cast<std::size_t>(packed.size() - 4));
    return page;
  }
  const bool grey = scan.isGrayscale();
  page.kind = grey ? EncodedPage::Kind::kGrey : EncodedPage::Kind::kColour;
  QByteArray data;
  QBuffer buffer(&data);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, "jpeg");
  writer.setQuality(85);
  if (!writer.write(
          scan.convertToFormat(grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888))) {
    throw std::runtime_error("JPEG: " + writer.errorString().toStdString());
  }
  page.data.assign(data.constData(), static_cast<std::size_t>(data.size()));
  return page;
}

ScansPdf::ScansPdf(QIODevice& out) : out_(out) {
  Put("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
}

void ScansPdf::Add(const EncodedPage& page) {
  std::string dict;
  switch (page.kind) {
    case EncodedPage::Kind::kBits:
      dict = "/ColorSpace /DeviceGray /BitsPerComponent 1 /Filter /FlateDecode";
      break;
    case EncodedPage::Kind::kGrey:
      dict = "/ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /DCTDecode";
      break;
    case EncodedPage::Kind::kColour:
      dict = "/ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /DCTDecode";
      break;
  }
  const double pw = page.width * 72.0 / page.dpi, ph = page.height * 72.0 / page.dpi;
  char box[96];
  std::snprintf(box, sizeof box, "%.2f 0 0 %.2f 0 0", pw, ph);
  const std::string draw = std::string("q ") + box + " cm /Scan Do Q\n";
  const int object = Begin();
  pages_.push_back(object);
  std::snprintf(box, sizeof box, "[0 0 %.2f %.2f]", pw, ph);
  Put("<< /Type /Page /Parent 1 0 R /MediaBox " + std::string(box) +
      " /Resources << /XObject << /Scan " + std::to_string(object + 1) + " 0 R >> >> /Contents " +
      std::to_string(object + 2) + " 0 R >>\nendobj\n");
  Begin();
  Put("<< /Type /XObject /Subtype /Image /Width " + std::to_string(page.width) + " /Height " +
      std::to_string(page.height) + " " + dict + " /Length " + std::to_string(page.data.size()) +
      " >>\nstream\n");
  Put(page.data);
  Put("\nendstream\nendobj\n");
  Begin();
  Put("<< /Length " + std::to_string(draw.size()) + " >>\nstream\n" + draw + "endstream\nendobj\n");
}

void ScansPdf::Finish() {
  offsets_[0] = written_;
  Put("1 0 obj\n<< /Type /Pages /Count " + std::to_string(pages_.size()) + " /Kids [");
  for (const int p : pages_) Put(std::to_string(p) + " 0 R ");
  Put("] >>\nendobj\n");
  const int catalog = Begin();
  Put("<< /Type /Catalog /Pages 1 0 R >>\nendobj\n");
  const std::int64_t xref = written_;
  Put("xref\n0 " + std::to_string(offsets_.size() + 1) + "\n0000000000 65535 f \n");
  for (const std::int64_t at : offsets_) {
    char line[24];
    std::snprintf(line, sizeof line, "%010lld 00000 n \n", static_cast<long long>(at));
    Put(line);
  }
  Put("trailer\n<< /Size " + std::to_string(offsets_.size() + 1) + " /Root " +
      std::to_string(catalog) + " 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n");
}

int ScansPdf::Begin() {
  offsets_.push_back(written_);
  const int number = static_cast<int>(offsets_.size());
  Put(std::to_string(number) + " 0 obj\n");
  return number;
}

void ScansPdf::Put(std::string_view text) {
  if (out_.write(text.data(), static_cast<qint64>(text.size())) !=
      static_cast<qint64>(text.size())) {
    throw std::runtime_error("scrittura non riuscita: " + out_.errorString().toStdString());
  }
  written_ += static_cast<std::int64_t>(text.size());
}

}  // namespace kvtread
