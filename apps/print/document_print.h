// Documents on paper and in PDF: each field's caption and value as the form shows them (a
// code with its description), the archive and the document's number at the top of every
// page, "Pagina N di M" at the bottom. Shared by the desk (Stampa, Esporta PDF) and the
// command line (`documents pdf`); needs Qt Gui, no window.
#pragma once

#include <QByteArray>
#include <QPagedPaintDevice>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/workspace.h"
#include "engine/common/archive_engine.h"

namespace kvtprint {

/// One document as it is printed: its number (0 for one not stored) and its lines.
struct PrintedDocument {
  std::int32_t id = 0;
  std::vector<std::pair<std::string, std::string>> lines;  // caption, value as shown
};

/// What printing needs of a form: its fields in form order, their captions and the
/// descriptions of the combos' codes. Read once; the form may change afterwards.
class FormPrint {
 public:
  explicit FormPrint(kvtapp::Workspace& w);
  /// A stored document's values as the form shows them, in form order (values of names the
  /// form lacks follow, under their names).
  PrintedDocument Of(const kvtengine::StoredDocument& d) const;
  /// The document on the form now (`id` 0 when not stored).
  static PrintedDocument OnForm(kvtapp::Workspace& w, std::int32_t id);

 private:
  struct Field {
    std::string name, caption;
    std::vector<std::pair<std::string, std::string>> codes;  // a combo's, code and description
  };
  std::vector<Field> fields_;
};

/// Paints the documents on `device`, one after another, a new page when one is full; the
/// header names `archive` and the documents on the page, the footer the page and the count.
/// False when the device could not be painted on (a printer that refused the job).
bool Paint(QPagedPaintDevice& device, const std::string& archive,
           const std::vector<PrintedDocument>& docs);
/// The same as a PDF file's bytes (A4, 300 dpi).
QByteArray Pdf(const std::string& archive, const std::vector<PrintedDocument>& docs);

}  // namespace kvtprint
