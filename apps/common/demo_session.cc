#include "common/demo_session.h"

#include <cstdio>
#include <string>

#include "archives/sample_archive.h"
#include "common/entry_session.h"
#include "runtime/dictionary.h"
#include "runtime/text.h"

namespace kvtapp {

std::string DescribeValues(kvtfields::FieldsCollection& fields) {
  auto values = std::dynamic_pointer_cast<kvt::Dictionary>(fields.FieldsValue());
  std::string out;
  for (const auto& [name, value] : values->Entries()) {
    out += "    " + name + " = " + kvt::JoinText(value) + "\n";
  }
  return out;
}

int PlayDemo(EntrySession& e, const std::function<void(const std::string& title)>& step) {
  auto& w = *e.Work();
  auto& p = w.Person();
  step("Nuovo documento: il cursore e' sul primo campo");

  p.Type("12");
  p.Tab();
  step("Numero '12' e Tab: troppo corto, il campo trattiene il cursore");
  w.Host().Errors().Clear();
  p.Clear();
  // A number the archive does not hold yet: played again, the demo stores a new invoice.
  p.Type(std::to_string(1026 + w.Engine().DocumentCount(w.Archive())));
  p.Tab();
  p.PickDate(kvt::Variant("05/12/2026"));
  p.Tab();
  p.Choose("FAT");
  p.Tab();
  step("Numero corretto, data scelta, tipo documento FAT");

  p.AddCode("LOG", "Logistica");
  p.Tab();
  p.Type("acme s.p.a.");
  p.Tab();
  p.Type("rssmra80a01h501u");
  p.Tab();
  p.Type("Ufficio@Acme.IT");
  p.Tab();
  step(
      "Reparto nuovo 'LOG - Logistica' aggiunto alla lista; cliente e codice in maiuscolo, "
      "e-mail in minuscolo; la quantita' propone 1");

  p.Clear();
  p.Type("3");
  p.Tab();
  p.Type("12,50");
  p.Tab();
  step("Quantita' 3 e prezzo 12,50: lo script calcola il totale");

  const Reply saved = e.Save();
  if (!saved.done) {
    step("Documento rifiutato: " + (saved.notice ? saved.notice->text : e.Status()));
    return 1;
  }
  std::printf("\n== Salvato il documento %d:\n%s", e.Id(), DescribeValues(w.Fields()).c_str());

  p.PressKey(67, 6);  // Ctrl+Alt+C: copy the retained fields
  if (!e.New().done) return 1;
  p.PressKey(86, 6);  // Ctrl+Alt+V: paste them into the next document
  step("Documento successivo: Ctrl+Alt+C poi Ctrl+Alt+V riportano i campi ritenuti");

  const Reply early = e.Save();
  if (!early.done) {
    std::printf("\n[rifiutato] %s\n", early.notice ? early.notice->text.c_str() : "");
    step("Salvataggio subito: i campi obbligatori vuoti vengono elencati tutti insieme");
  }
  std::printf("\nDocumenti nell'archivio %s: %d\n", w.Archive().c_str(),
              w.Engine().DocumentCount(w.Archive()));
  return 0;
}

}  // namespace kvtapp
