#include "common/problem.h"

#include <algorithm>
#include <initializer_list>

#include "engine/common/engine_error.h"
#include "runtime/error.h"
#include "runtime/text.h"

namespace kvtapp {
namespace {

bool Holds(const std::string& text, std::initializer_list<const char*> words) {
  return std::any_of(words.begin(), words.end(),
                     [&](const char* w) { return text.find(w) != std::string::npos; });
}

// What the account was refused, from the server's text ("permission denied for table
// scripts"), in the words of the office.
std::string NotAllowed(const std::string& text) {
  const auto has = [&](const char* table) { return text.find(table) != std::string::npos; };
  if (has("scripts")) return "modificare lo script dell'archivio";
  if (has("field_definitions") || has("field_layouts"))
    return "modificare le definizioni dell'archivio";
  if (has("code_lists")) return "modificare le tabelle dei codici";
  if (has("stored_files") || has("file_pieces") || has("file_uploads"))
    return "archiviare i file dei documenti";
  if (has("document")) return "modificare i documenti";
  if (has("sys_autocomplete")) return "registrare i valori suggeriti";
  if (has("roles")) return "impostare i ruoli (lo fa il proprietario del database)";
  return "fare questa operazione sul database";
}

}  // namespace

Problem ProblemOf(const std::exception& e) {
  Problem p;
  const auto* err = dynamic_cast<const kvt::Error*>(&e);
  if (!err) {
    p.happened = "Il programma ha incontrato un errore interno.";
    p.todo = "Riprovare; se si ripete, riavviare il programma.";
    p.details = e.what();
    return p;
  }
  p.details =
      "Errore " + std::to_string(err->Number()) + " (" + err->Source() + "): " + err->Description();
  const std::uint32_t n = err->Number() - kvt::kObjectErrorBase;
  const std::string text = kvt::ToLower(err->Description());
  switch (kvtengine::IsEngineError(*err) ? n : 0) {
    case kvtengine::kNotOurDatabase:
      p.happened = "Il file scelto non è un database di kvtfields.";
      p.todo = "Scegliere un altro file con File > Apri database.";
      return p;
    case kvtengine::kNewerSchema:
      p.happened = "Il database è stato scritto da una versione più recente di kvtfields.";
      p.todo = "Aggiornare il programma prima di aprirlo: questa versione lo rovinerebbe.";
      return p;
    case kvtengine::kNoDatabase:
      p.happened = "Nessun database è aperto.";
      p.todo = "Aprire un database con File > Apri database.";
      return p;
    case kvtengine::kConflict:
      p.happened =
          "Un altro utente ha cambiato o eliminato il documento dopo che è stato aperto: non è "
          "stato scritto nulla.";
      p.todo = "Riaprire il documento per vedere i suoi valori, poi ripetere.";
      return p;
    case kvtengine::kNoPermission:
      p.happened = "Non hai il permesso di " + NotAllowed(text) + ".";
      p.todo = "Chiedere il permesso a chi gestisce il database.";
      return p;
    case kvtengine::kNoArchive:
      p.happened = "Il database non contiene l'archivio richiesto.";
      p.todo = "Scegliere un archivio con File > Scegli archivio.";
      return p;
    case kvtengine::kBadFile:
      p.happened = "Un file archiviato manca o non è più quello archiviato: non viene usato.";
      p.todo =
          "Ripristinare il database da una copia di sicurezza (archive check-files lo "
          "controlla tutto).";
      return p;
    case kvtengine::kBadDefinition:
    case kvtengine::kBadFilter:
      p.happened = "Le definizioni dei campi dell'archivio contengono un errore.";
      p.todo = "Rivolgersi a chi progetta l'archivio.";
      return p;
    default:
      break;
  }
  if (Holds(text, {"disk is full", "no space", "database or disk is full"})) {
    p.happened = "Il disco è pieno.";
    p.todo = "Liberare spazio sul disco, poi riprovare.";
  } else if (Holds(text, {"there is no such file", "no database file", "does not exist",
                          "unable to open"})) {
    p.happened = "Il database non si trova.";
    p.todo = "Scegliere un altro database con File > Apri database.";
  } else if (Holds(text, {"read-only", "readonly", "not writable"})) {
    p.happened = "Il database non si può scrivere: è di sola lettura o la sua cartella è protetta.";
    p.todo = "Chiedere il permesso di scrittura, oppure lavorare su una copia.";
  } else if (Holds(text, {"permission denied", "must be owner", "insufficient privilege"})) {
    p.happened = "Non hai il permesso di fare questa operazione sul database.";
    p.todo = "Chiedere il permesso a chi amministra il database.";
  } else if (Holds(text, {"password authentication", "authentication failed",
                          "no password supplied", "role \"", "pg_hba.conf"})) {
    p.happened = "Il server ha rifiutato l'accesso: utente o password non validi.";
    p.todo = "Controllare l'utente nella connessione e la password (~/.pgpass).";
  } else if (Holds(text, {"could not connect", "connection refused", "server closed",
                          "connection to server", "no connection", "could not translate host",
                          "timeout expired", "terminating connection", "is lost"})) {
    p.happened = "Il server del database non risponde o il collegamento si è interrotto.";
    p.todo = "Controllare la rete e che il server sia acceso, poi riprovare.";
  } else if (Holds(text, {"locked", "busy", "could not obtain lock", "deadlock"})) {
    p.happened = "Il database è occupato da un altro programma.";
    p.todo = "Riprovare tra qualche istante.";
  } else if (Holds(text, {"ran longer", "interrupted", "canceling statement"})) {
    p.happened = "L'operazione richiedeva troppo tempo ed è stata fermata.";
    p.todo = "Riprovare; se si ripete, rivolgersi a chi amministra il database.";
  } else if (Holds(text, {"is damaged"})) {
    // "document 3 of '...' is damaged: ..."
    const auto at = text.find("document ");
    const std::string which = at == std::string::npos
                                  ? std::string()
                                  : " " + text.substr(at + 9, text.find(' ', at + 9) - at - 9);
    p.happened = "Il documento" + which +
                 " nel file è danneggiato: non è stato scritto da kvtfields. Gli altri si "
                 "leggono.";
    p.todo = "Ripristinare una copia di sicurezza del file, o chiedere chi lo ha modificato.";
  } else if (Holds(text, {"malformed", "corrupt", "not a database"})) {
    p.happened = "Il file del database è danneggiato.";
    p.todo = "Ripristinare una copia di sicurezza; non scrivere altro nel file.";
  } else if (Holds(text, {"has no fields"})) {
    p.happened = "L'archivio non ha campi, oppure questo database non lo contiene.";
    p.todo = "Scegliere un altro archivio con File > Scegli archivio.";
  } else {
    p.happened = kvtengine::IsEngineError(*err) ? "Il database ha rifiutato l'operazione."
                                                : "L'operazione non è riuscita.";
  }
  return p;
}

}  // namespace kvtapp
