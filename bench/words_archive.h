// The large invoice archive (large_archive.h) with the words of a page behind every document:
// document i names file i, whose reading holds 100–300 words drawn from an Italian-looking
// vocabulary by Zipf's law, with a few words planted at known rates so that each search has a
// known number of hits. The text of document i depends on i alone: both engines hold the same.
#pragma once

#include <libpq-fe.h>
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace kvtbench {

// Twenty words each on 1 document in 40,000 (25 documents of a million).
inline const std::array<const char*, 20>& RareWords() {
  static const std::array<const char*, 20> words = {
      "ornitorinco",   "clessidra", "zampogna",  "pergamena",    "astrolabio",
      "caleidoscopio", "metronomo", "ippocampo", "salamandra",   "mongolfiera",
      "stadera",       "filigrana", "lanterna",  "carillon",     "ventaglio",
      "scafandro",     "pendolo",   "bussola",   "cannocchiale", "tamburello"};
  return words;
}

// The planted words and where: document i holds the word when i % every == at.
struct Planted {
  const char* words;  // one word, or several written next to each other
  int every, at;
};
inline const std::vector<Planted>& PlantedWords() {
  static const std::vector<Planted> planted = {
      {"cartone", 17, 3},             // 5.9 %; with pallet on 1 document in 323
      {"pallet", 19, 5},              // 5.3 %
      {"consegna urgente", 101, 11},  // a phrase of two common words, 1 %
      {"bonifico", 100, 7},           // bonific*: three words, 3 %
      {"bonifici", 100, 37},
      {"bonificato", 100, 77},
      {"reso", 20, 9},      // 5 %; with TipoDocumento NC (i % 3 == 1): 1 in 60
      {"pagamento", 3, 0},  // a third of all documents
  };
  return planted;
}

// The drawn vocabulary, most frequent first: words every text has, a business page's words,
// then made-up three-syllable words for the long tail.
inline const std::vector<std::string>& Vocabulary() {
  static const std::vector<std::string> words = [] {
    std::vector<std::string> v = {"di",
                                  "del",
                                  "della",
                                  "il",
                                  "la",
                                  "per",
                                  "con",
                                  "in",
                                  "e",
                                  "a",
                                  "al",
                                  "da",
                                  "fattura",
                                  "documento",
                                  "cliente",
                                  "fornitore",
                                  "merce",
                                  "consegna",
                                  "trasporto",
                                  "imballo",
                                  "quantita",
                                  "prezzo",
                                  "importo",
                                  "totale",
                                  "imponibile",
                                  "iva",
                                  "aliquota",
                                  "sconto",
                                  "scadenza",
                                  "banca",
                                  "conto",
                                  "codice",
                                  "articolo",
                                  "descrizione",
                                  "unita",
                                  "misura",
                                  "pezzi",
                                  "colli",
                                  "peso",
                                  "netto",
                                  "lordo",
                                  "vettore",
                                  "destinazione",
                                  "sede",
                                  "legale",
                                  "via",
                                  "piazza",
                                  "corso",
                                  "numero",
                                  "data",
                                  "ordine",
                                  "riferimento",
                                  "partita",
                                  "fiscale",
                                  "telefono",
                                  "spedizione",
                                  "porto",
                                  "franco",
                                  "assegnato",
                                  "causale",
                                  "vendita",
                                  "acquisto",
                                  "servizio",
                                  "manutenzione",
                                  "riparazione",
                                  "ricambio",
                                  "materiale",
                                  "ferro",
                                  "acciaio",
                                  "legno",
                                  "carta",
                                  "plastica",
                                  "vetro",
                                  "alluminio",
                                  "rame",
                                  "bulloni",
                                  "viti",
                                  "dadi",
                                  "rondelle",
                                  "tubi",
                                  "cavi",
                                  "pannelli",
                                  "lamiere",
                                  "profilati",
                                  "vernice",
                                  "colla",
                                  "nastro",
                                  "scatola",
                                  "bancale",
                                  "magazzino",
                                  "deposito",
                                  "ufficio",
                                  "amministrazione",
                                  "contabilita",
                                  "registro",
                                  "protocollo",
                                  "firma",
                                  "timbro",
                                  "copia",
                                  "originale",
                                  "allegato",
                                  "pagina",
                                  "mese",
                                  "anno",
                                  "giorno",
                                  "settimana",
                                  "lavoro",
                                  "ore",
                                  "tecnico",
                                  "intervento",
                                  "cantiere",
                                  "progetto",
                                  "commessa",
                                  "preventivo",
                                  "offerta",
                                  "contratto",
                                  "condizioni",
                                  "generali",
                                  "garanzia",
                                  "assistenza",
                                  "modalita",
                                  "rimessa",
                                  "diretta",
                                  "ricevuta",
                                  "bancaria",
                                  "contanti",
                                  "assegno",
                                  "saldo",
                                  "acconto",
                                  "anticipo",
                                  "rata",
                                  "interessi",
                                  "spese",
                                  "incasso",
                                  "versamento",
                                  "accredito",
                                  "addebito",
                                  "estratto",
                                  "periodo",
                                  "competenza",
                                  "esercizio",
                                  "bilancio",
                                  "nota",
                                  "credito",
                                  "debito",
                                  "urgente",
                                  "rapido",
                                  "normale",
                                  "pronto",
                                  "disponibile",
                                  "esaurito",
                                  "ordinato",
                                  "spedito",
                                  "ricevuto",
                                  "controllato",
                                  "verificato",
                                  "approvato",
                                  "respinto",
                                  "annullato",
                                  "sostituito",
                                  "milano",
                                  "roma",
                                  "torino",
                                  "napoli",
                                  "bologna",
                                  "firenze",
                                  "genova",
                                  "venezia",
                                  "verona",
                                  "padova",
                                  "bari",
                                  "palermo",
                                  "catania",
                                  "trieste",
                                  "brescia",
                                  "bergamo",
                                  "modena",
                                  "parma"};
    static const char* syllables[] = {
        "ba", "be", "bi", "bo", "ca", "ce", "ci", "co", "da", "de", "di", "do", "fa", "fe",
        "fi", "fo", "ga", "ge", "gi", "go", "la", "le", "li", "lo", "ma", "me", "mi", "mo",
        "na", "ne", "ni", "no", "pa", "pe", "pi", "po", "ra", "re", "ri", "ro", "sa", "se",
        "si", "so", "ta", "te", "ti", "to", "va", "ve", "vi", "vo", "za", "ze", "zi", "zo"};
    constexpr std::uint32_t kSyllables = sizeof syllables / sizeof *syllables;
    for (std::uint32_t r = 0; r < 30000; ++r) {
      // Spread over the syllables so that neighbours in rank do not share a stem.
      const std::uint32_t h = (r * 2654435761u) % (kSyllables * kSyllables * kSyllables);
      v.push_back(std::string(syllables[h % kSyllables]) + syllables[h / kSyllables % kSyllables] +
                  syllables[h / kSyllables / kSyllables]);
    }
    return v;
  }();
  return words;
}

// Zipf's law over the vocabulary, as a cumulative table.
inline const std::vector<double>& ZipfTable() {
  static const std::vector<double> table = [] {
    std::vector<double> t;
    double sum = 0;
    for (std::size_t r = 0; r < Vocabulary().size(); ++r) {
      sum += 1.0 / (static_cast<double>(r) + 2.0);
      t.push_back(sum);
    }
    for (double& x : t) x /= sum;
    return t;
  }();
  return table;
}

inline std::uint64_t SplitMix(std::uint64_t& s) {
  std::uint64_t z = (s += 0x9e3779b97f4a7c15ull);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}

// The words on document i's page, a blank between each two.
inline std::string PageWords(std::int64_t i) {
  std::uint64_t s = static_cast<std::uint64_t>(i) * 7919u + 17u;
  const int n = 100 + static_cast<int>(SplitMix(s) % 201);
  std::vector<std::string_view> words;
  words.reserve(static_cast<std::size_t>(n) + 8);
  const auto& table = ZipfTable();
  for (int w = 0; w < n; ++w) {
    const double u = static_cast<double>(SplitMix(s) >> 11) * 0x1.0p-53;
    const auto at = std::upper_bound(table.begin(), table.end(), u) - table.begin();
    words.push_back(Vocabulary()[static_cast<std::size_t>(
        std::min<std::ptrdiff_t>(at, static_cast<std::ptrdiff_t>(table.size()) - 1))]);
  }
  auto plant = [&](std::string_view word) {
    words.insert(words.begin() + static_cast<std::ptrdiff_t>(SplitMix(s) % words.size()), word);
  };
  if (i % 40000 < static_cast<std::int64_t>(RareWords().size())) plant(RareWords()[i % 40000]);
  for (const Planted& p : PlantedWords())
    if (i % p.every == p.at) plant(p.words);
  std::string text;
  text.reserve(words.size() * 8);
  for (const auto& w : words) {
    if (!text.empty()) text += ' ';
    text += w;
  }
  return text;
}

// A made-up digest for file i.
inline std::string FileDigest(std::int64_t i) {
  char hex[65];
  std::snprintf(hex, sizeof hex, "%064llx", static_cast<unsigned long long>(i));
  return hex;
}

// SQLite: reading i of file i (one page, its words with their boxes), the link from document i
// to it, and its words as document i's.
inline void GenerateSqliteWords(sqlite3* db, std::int64_t n) {
  auto exec = [&](const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      const std::string text = error ? error : "?";
      sqlite3_free(error);
      throw std::runtime_error("generator: " + text);
    }
  };
  const std::string count = std::to_string(n);
  exec("PRAGMA cache_size = -1000000");
  exec("BEGIN");
  exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + count +
       ") INSERT INTO file_readings (id, sha256, reader, read_at, failure) SELECT i, "
       "printf('%064x', i), 'bench', '2026-12-06T10:00:00Z', '' FROM n");
  exec(
      "INSERT INTO document_files (document, sha256) SELECT id, sha256 FROM file_readings "
      "ORDER BY id");
  sqlite3_stmt* words = nullptr;
  sqlite3_stmt* page = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO document_words (rowid, words) VALUES (?1, ?2)", -1, &words,
                     nullptr);
  sqlite3_prepare_v2(db,
                     "INSERT INTO file_pages (sha256, page, width, height, words) VALUES (?1, 1, "
                     "2480, 3508, ?2)",
                     -1, &page, nullptr);
  auto step = [&](sqlite3_stmt* q) {
    if (sqlite3_step(q) != SQLITE_DONE) {
      sqlite3_finalize(words);
      sqlite3_finalize(page);
      throw std::runtime_error(std::string("generator: ") + sqlite3_errmsg(db));
    }
  };
  for (std::int64_t i = 1; i <= n; ++i) {
    // The page as a scan read at 300 dpi: ten words a line, each with its box.
    kvtfiles::PageText read;
    const std::string text = PageWords(i);
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t end = std::min(text.find(' ', at), text.size());
      const auto k = static_cast<std::int32_t>(read.words.size());
      read.words.push_back(
          {200 + k % 10 * 200, 300 + k / 10 * 60, 180, 40, 90, text.substr(at, end - at)});
      at = end + 1;
    }
    const std::string encoded = kvtfiles::EncodeWords(read.words);
    const std::string searched = read.Text() + '\n';
    const std::string sha = FileDigest(i);
    sqlite3_reset(page);
    sqlite3_bind_text(page, 1, sha.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(page, 2, encoded.data(), static_cast<int>(encoded.size()), SQLITE_STATIC);
    step(page);
    sqlite3_reset(words);
    sqlite3_bind_int64(words, 1, i);
    sqlite3_bind_text(words, 2, searched.data(), static_cast<int>(searched.size()), SQLITE_STATIC);
    step(words);
  }
  sqlite3_finalize(words);
  sqlite3_finalize(page);
  exec("COMMIT");
  exec("ANALYZE");
}

// PostgreSQL: the texts copied in, made into Italian word vectors by two connections at once,
// copied to their documents, and the words' index built after them as a bulk load does.
inline void GeneratePgWords(const std::string& conninfo, std::int64_t n) {
  auto connect = [&] {
    PGconn* c = PQconnectdb(conninfo.c_str());
    if (PQstatus(c) != CONNECTION_OK) throw std::runtime_error("generator: no connection");
    return c;
  };
  auto run = [](PGconn* c, const std::string& sql) {
    PGresult* r = PQexec(c, sql.c_str());
    const auto status = PQresultStatus(r);
    const std::string error = PQresultErrorMessage(r);
    PQclear(r);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && status != PGRES_COPY_IN)
      throw std::runtime_error("generator: " + error);
  };
  PGconn* c = connect();
  const std::string count = std::to_string(n);
  run(c, "CREATE UNLOGGED TABLE IF NOT EXISTS kvt_texts (id bigint, words text)");
  run(c, "TRUNCATE kvt_texts");
  run(c, "COPY kvt_texts FROM STDIN");
  std::string chunk;
  for (std::int64_t i = 1; i <= n; ++i) {
    // Letters and blanks only: nothing to escape in COPY's text form.
    chunk += std::to_string(i) + '\t' + PageWords(i) + '\n';
    if (chunk.size() > (1 << 20) || i == n) {
      if (PQputCopyData(c, chunk.data(), static_cast<int>(chunk.size())) != 1)
        throw std::runtime_error("generator: COPY failed");
      chunk.clear();
    }
  }
  if (PQputCopyEnd(c, nullptr) != 1) throw std::runtime_error("generator: COPY failed");
  PGresult* r = PQgetResult(c);
  const bool copied = PQresultStatus(r) == PGRES_COMMAND_OK;
  PQclear(r);
  if (!copied) throw std::runtime_error("generator: COPY failed");
  // The words by document are written below in one statement, not a document at a time.
  run(c, "ALTER TABLE file_readings DISABLE TRIGGER file_readings_words");
  PGconn* other = connect();
  const std::string insert =
      "INSERT INTO file_readings (sha256, reader, read_at, failure, words) SELECT "
      "lpad(to_hex(id), 64, '0'), 'bench', '2026-12-06T10:00:00Z', '', to_tsvector('italian', "
      "words) FROM kvt_texts WHERE id % 2 = ";
  // The two halves at once, one on each connection.
  if (!PQsendQuery(other, (insert + "1").c_str())) throw std::runtime_error("generator: send");
  run(c, insert + "0");
  std::string error;
  while (PGresult* o = PQgetResult(other)) {
    if (PQresultStatus(o) != PGRES_COMMAND_OK) error = PQresultErrorMessage(o);
    PQclear(o);
  }
  PQfinish(other);
  if (!error.empty()) throw std::runtime_error("generator: " + error);
  run(c,
      "INSERT INTO document_files (document, sha256) SELECT g, lpad(to_hex(g), 64, '0') FROM "
      "generate_series(1, " +
          count + ") g");
  run(c, "ALTER TABLE file_readings ENABLE TRIGGER file_readings_words");
  run(c, "DROP INDEX document_words_words");
  run(c,
      "INSERT INTO document_words (document, archive, words) SELECT l.document, 'Fatture', "
      "r.words FROM document_files l JOIN file_readings r ON r.sha256 = l.sha256");
  run(c, "SET maintenance_work_mem = '2GB'");
  run(c, "CREATE INDEX document_words_words ON document_words USING gin (words)");
  run(c, "DROP TABLE kvt_texts");
  for (const char* table : {"file_readings", "document_files", "document_words"})
    run(c, std::string("VACUUM ANALYZE ") + table);
  PQfinish(c);
}

}  // namespace kvtbench
