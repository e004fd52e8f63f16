#include "engine/sqlite/sample_archive.h"

#include <vector>

namespace kvtsqlite::sample {
namespace {

// The layout of one field on both forms: width and height on the entry form, whether it starts
// a new row there and on the review form.
struct Placement {
  int width;
  int height;
  bool break_line;
  bool multi_line;
  bool review_break_line;
};

void Add(DBEngine& e, FieldDefinition f, Placement p) {
  f.archive = kArchive;
  e.PutField(f);
  e.PutLayout({kArchive, f.name, kEntryForm, p.width, p.height, p.break_line, p.multi_line, true});
  e.PutLayout({kArchive, f.name, kReviewForm, p.width, 0, p.review_break_line, false, false});
}

void Codes(DBEngine& e, std::string field,
           const std::vector<std::pair<std::string, std::string>>& codes) {
  std::string archive = kArchive;
  for (auto [code, descr] : codes) e.AddCode(archive, field, code, descr);
}

}  // namespace

const char* const kScript = R"lua(-- Archivio Fatture: il totale e' quantita' per prezzo.
local function importo(campi, nome)
  return numero(campi:Item(nome).Value) or 0
end

function ingresso(nome, valore, campi)
  if nome == "Quantita" and valore == "" then return "1" end
end

function valida(nome, valore, campi, annulla)
  if nome == "Quantita" then
    local q = numero(valore)
    if q and q > 10000 then return valore, true end
  end
end

function aggiorna(campo)
  local nome = campo.Name
  if nome == "Quantita" or nome == "Prezzo" then return { "Totale" } end
end

function calcola(campo, campi)
  if campo.Name == "Totale" then
    return math.floor(importo(campi, "Quantita") * importo(campi, "Prezzo") + 0.5)
  end
  return 0
end
)lua";

void CreateSampleArchive(DBEngine& e) {
  e.Transaction([&] {
    e.Db().Execute(
        "DELETE FROM field_definitions WHERE archive = 'Fatture';"
        "DELETE FROM field_layouts WHERE archive = 'Fatture';"
        "DELETE FROM code_lists WHERE archive = 'Fatture';");
    FieldDefinition f;
    f = {.archive = kArchive,
         .name = "NumeroDocumento",
         .label = "Numero documento",
         .descr = "Numero progressivo della fattura (solo cifre, almeno 3)",
         .max_len = 10,
         .min_len = 3,
         .priority = 1,
         .is_index = true,
         .is_required = true,
         .data_format = 1};
    Add(e, f, {1800, 0, true, false, true});
    f = {.archive = kArchive,
         .name = "DataDocumento",
         .label = "Data documento",
         .descr = "Data di emissione",
         .priority = 2,
         .is_index = true,
         .is_required = true,
         .type = "Calendar"};
    Add(e, f, {1600, 0, false, false, false});
    f = {.archive = kArchive,
         .name = "TipoDocumento",
         .label = "Tipo documento",
         .descr = "Fattura, nota di credito o DDT",
         .priority = 3,
         .is_required = true,
         .retain_in_memory = true,
         .type = "ComboBox"};
    Add(e, f, {2600, 0, false, false, false});
    f = {.archive = kArchive,
         .name = "Reparto",
         .label = "Reparto",
         .descr = "Reparto che registra il documento",
         .priority = 4,
         .retain_in_memory = true,
         .type = "ComboBox"};
    Add(e, f, {2600, 0, true, true, true});
    f = {.archive = kArchive,
         .name = "Cliente",
         .label = "Cliente",
         .descr = "Ragione sociale del cliente",
         .max_len = 60,
         .priority = 5,
         .is_required = true,
         .auto_complete = true,
         .char_format = 1,
         .retain_in_memory = true};
    Add(e, f, {4000, 0, true, false, true});
    f = {.archive = kArchive,
         .name = "CodiceFiscale",
         .label = "Codice fiscale",
         .descr = "16 caratteri, maiuscolo",
         .max_len = 16,
         .min_len = 16,
         .priority = 6,
         .char_format = 1};
    Add(e, f, {2200, 0, false, false, false});
    f = {.archive = kArchive,
         .name = "Email",
         .label = "E-mail",
         .descr = "Indirizzo di posta del cliente",
         .max_len = 80,
         .priority = 7,
         .char_format = 2};
    Add(e, f, {3000, 0, true, false, true});
    f = {.archive = kArchive,
         .name = "Quantita",
         .label = "Quantità",
         .descr = "Numero di pezzi",
         .max_len = 8,
         .priority = 8,
         .data_format = 1};
    Add(e, f, {1000, 0, true, false, true});
    f = {.archive = kArchive,
         .name = "Prezzo",
         .label = "Prezzo unitario",
         .descr = "Prezzo in euro, es. 1.234,50",
         .max_len = 12,
         .priority = 9,
         .data_format = 1};
    Add(e, f, {1400, 0, false, false, false});
    f = {.archive = kArchive,
         .name = "Totale",
         .label = "Totale",
         .descr = "Calcolato: quantità per prezzo",
         .max_len = 14,
         .priority = 10,
         .data_format = 1};
    Add(e, f, {1400, 0, false, false, false});
    f = {.archive = kArchive,
         .name = "Allegato",
         .label = "Allegato",
         .descr = "Percorso del file scansionato",
         .priority = 11,
         .type = "FileLinker"};
    Add(e, f, {4000, 0, true, false, true});
    f = {.archive = kArchive,
         .name = "Note",
         .label = "Note",
         .descr = "Annotazioni libere",
         .max_len = 500,
         .priority = 12};
    Add(e, f, {5000, 900, true, true, true});

    Codes(e, "TipoDocumento",
          {{"DDT", "Documento di trasporto"}, {"FAT", "Fattura"}, {"NC", "Nota di credito"}});
    Codes(e, "Reparto", {{"ACQ", "Acquisti"}, {"AMM", "Amministrazione"}, {"VEN", "Vendite"}});
    e.PutScript(kArchive, kScript);
    e.PutScript("32", kScript);
  });
}

void CreateScaledArchive(DBEngine& e, const std::string& archive, int fields) {
  e.Transaction([&] {
    for (int i = 1; i <= fields; ++i) {
      const std::string name = "Campo" + std::to_string(i);
      FieldDefinition f{.archive = archive,
                        .name = name,
                        .label = "Campo " + std::to_string(i),
                        .descr = "Campo di prova " + std::to_string(i),
                        .max_len = 40,
                        .is_required = i % 7 == 0,
                        .retain_in_memory = i % 5 == 0};
      e.PutField(f);
      e.PutLayout({archive, name, kEntryForm, 2000, 0, i % 4 == 1, false, true});
    }
  });
}

}  // namespace kvtsqlite::sample
