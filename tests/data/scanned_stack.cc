#include "scanned_stack.h"

#include <QSaveFile>
#include <stdexcept>

#include "reading/scans_pdf.h"

namespace kvttestdata {

Stack WriteStackPdf(const std::string& path, int count, std::uint64_t seed) {
  QSaveFile out(QString::fromStdString(path));  // whole, or not at all
  if (!out.open(QIODevice::WriteOnly)) throw std::runtime_error("cannot write " + path);
  kvtread::ScansPdf pdf(out);
  QImage blank(2480, 3508, QImage::Format_Grayscale8);  // A4 at 300 dpi, paper-grey
  blank.fill(244);
  Stack stack;
  for (int n = 1; n <= count; ++n) {
    if (n > 1) pdf.Add(kvtread::EncodePage(blank, 300)), ++stack.pages;
    Document d = MakeStackDocument(seed, n);
    stack.first_pages.push_back(stack.pages + 1);
    for (const auto& page : Scan(d, 300, static_cast<std::uint64_t>(n))) {
      pdf.Add(kvtread::EncodePage(page, 300));
      ++stack.pages;
    }
    stack.documents.push_back(std::move(d));
  }
  pdf.Finish();
  if (!out.commit()) throw std::runtime_error("cannot write " + path);
  return stack;
}

std::string StackTruthJson(const Stack& stack) {
  std::string json = "[\n";
  for (std::size_t i = 0; i < stack.documents.size(); ++i) {
    const Document& d = stack.documents[i];
    json += std::string(i ? ",\n" : "") + "  {\"documento\": \"" + d.stem +
            "\", \"prima_pagina\": " + std::to_string(stack.first_pages[i]) +
            ", \"pagine\": " + std::to_string(d.pages) +
            ", \"fornitore\": " + std::to_string(d.supplier) + ", \"campi\": {";
    for (std::size_t f = 0; f < d.fields.size(); ++f) {
      json += std::string(f ? ", " : "") + "\"" + d.fields[f].first + "\": \"" +
              d.fields[f].second + "\"";
    }
    json += "}}";
  }
  return json + "\n]\n";
}

}  // namespace kvttestdata
