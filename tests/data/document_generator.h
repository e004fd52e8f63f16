// Test documents that look like an office's: Italian invoices, delivery notes and letters,
// written as PDFs and as scans (drawn at 200-300 dpi, grey, with a little noise and skew), each
// with the values a clerk would type from it (the ground truth). The same seed gives the same
// documents; nothing is committed, everything is made when a test or a benchmark runs.
#pragma once

#include <QImage>
#include <QRectF>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kvttestdata {

enum class Kind { kInvoice, kDeliveryNote, kLetter, kCreditNote, kCarriageInvoice };

struct Document {
  Kind kind = Kind::kInvoice;
  std::string stem;  // "fattura-0001": the files' name without extension
  /// What a clerk types from it, as the sample archive's fields take it (dd/mm/yyyy, "12,50").
  std::vector<std::pair<std::string, std::string>> fields;
  std::vector<std::string> lines;  // the body: items, or the letter's text
  int pages = 1;
  /// A stack's document: its supplier (0-11, whose template draws it), -1 for the others.
  int supplier = -1;
  /// Where on its first page each value was drawn, in points (A4: 595 x 842).
  std::vector<std::pair<std::string, QRectF>> places;
  /// The value of `field` (empty when it has none).
  std::string Value(const std::string& field) const;
};

/// Document `n` (from 1) of `seed`: the kinds in turn, the values from the seed and n alone.
Document MakeDocument(std::uint64_t seed, int n);

/// Document `n` of a day's stack: an invoice, credit note, delivery note or carriage invoice of
/// one of 12 suppliers, each with a letterhead and template of its own, 1-5 pages. Its fields
/// are the five a clerk types from it (number, date, type, the supplier as `Cliente`, and the
/// total or, on a delivery note, the parcels), as the sample archive stores them.
Document MakeStackDocument(std::uint64_t seed, int n);

/// The document as a PDF of text (A4), as an office program writes one.
void WritePdf(const Document& d, const std::string& path);

/// The document scanned: each page drawn at `dpi` (200-300), grey, with speckles and a skew of
/// up to 1.5 degrees from `seed`.
std::vector<QImage> Scan(const Document& d, int dpi, std::uint64_t seed);

/// Pages as one uncompressed grey TIFF, every page a directory of its own (a multi-page scan).
void WriteTiff(const std::vector<QImage>& pages, int dpi, const std::string& path);

/// What was written of a set: per document its PDF, its scan and its values.
struct WrittenDocument {
  Document document;
  std::string pdf, scan;
};

/// Writes `count` documents of `seed` into `dir`: <stem>.pdf, <stem>.tif (scanned at 200 dpi)
/// and verita.json (every document's files and values); returns what it wrote.
std::vector<WrittenDocument> WriteSet(const std::string& dir, int count, std::uint64_t seed);

/// An Italian codice fiscale's check letter for its first 15 characters.
char CodiceFiscaleCheck(const std::string& first15);

}  // namespace kvttestdata
