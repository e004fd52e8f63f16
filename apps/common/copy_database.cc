#include "common/copy_database.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <optional>

#include "common/output_file.h"
#include "engine/common/file_store.h"
#include "runtime/record_set.h"
#include "runtime/text.h"

namespace kvtapp {

namespace {

// A new folder only this process writes in, for files on their way between two databases;
// removed with what is in it however the copy ends.
class PrivateFolder {
 public:
  PrivateFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "kvtfields-copy-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
      throw kvt::Error(2, "kvtfields", "cannot make a folder for the files being copied");
    }
    path_ = pattern;
  }
  ~PrivateFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

kvtengine::FieldDefinition Definition(kvtengine::ArchiveEngine& e, const std::string& archive,
                                      const std::string& name) {
  auto rs = e.GetFieldDefinition(archive, name);
  kvtengine::FieldDefinition d{.archive = archive, .name = name};
  kvt::Variant* to[] = {&d.label,       &d.descr,       &d.max_len,          &d.min_len,
                        &d.priority,    &d.is_index,    &d.is_required,      &d.auto_complete,
                        &d.data_format, &d.char_format, &d.retain_in_memory, &d.type};
  for (std::size_t i = 0; i < std::size(to); ++i) {
    *to[i] = rs->Value(kvtengine::DefinitionColumns()[i]);
  }
  return d;
}

// Refuses, naming where it stands, a text the target cannot hold as it is: copied cut short
// or changed, it would not be the same archive.
void CheckText(const kvtengine::ArchiveEngine& to, const std::string& text,
               const std::string& where) {
  if (const std::string why = to.WhyUnstorable(text); !why.empty()) {
    throw kvt::Error(2, "kvtfields",
                     kvt::Printable(where) + " " + why + ": " + to.Where() +
                         " cannot store it as it is; nothing was copied");
  }
}

// Every engine keeps a value's bytes as they are (a text with a NUL too); the names must be
// texts the target holds.
void CheckValues(const kvtengine::ArchiveEngine& to, const std::string& archive,
                 const kvtengine::StoredDocument& doc) {
  for (const auto& [field, value] : doc.values) {
    const std::string where =
        "archive '" + archive + "', document " + std::to_string(doc.id) + ", field '" + field + "'";
    CheckText(to, field, where + ": the name");
  }
}

}  // namespace

CopyReport CopyDatabase(kvtengine::ArchiveEngine& from, kvtengine::ArchiveEngine& to) {
  const std::vector<std::string> archives = from.ListAllArchives();
  for (const auto& a : archives) {
    CheckText(to, a, "the name of the archive '" + a + "'");
    if (to.HasArchive(a)) {
      throw kvt::Error(2, "kvtfields",
                       to.Where() + " already has the archive '" + a + "': nothing was copied");
    }
  }
  CopyReport report;
  to.Transaction([&] {
    for (const auto& a : archives) {
      CopyReport::Archive copied{.name = a};
      const std::vector<std::string> names = from.GetFormFields(a);
      for (const auto& n : names) {
        CheckText(to, n, "archive '" + a + "', the name of the field '" + n + "'");
        const kvtengine::FieldDefinition d = Definition(from, a, n);
        for (const kvt::Variant* v : {&d.label, &d.descr, &d.type}) {
          if (v->IsString()) CheckText(to, v->AsString(), "archive '" + a + "', field '" + n + "'");
        }
        to.PutField(d);
      }
      copied.fields = names.size();
      for (const auto& form : from.ListForms(a)) {
        CheckText(to, form, "archive '" + a + "', the name of the form '" + form + "'");
        ++copied.forms;
        from.GetFormFields(a);  // each form is a build of its own
        for (const auto& n : names) {
          const kvt::Variant v = from.GetFieldVisualProperties(a, n, form);
          if (v.IsNothing()) continue;
          auto rs = kvt::FromVariant<std::shared_ptr<kvt::RecordSet>>(v);
          to.PutLayout({a, n, form, rs->Value("Width"), rs->Value("Height"), rs->Value("BreakLine"),
                        rs->Value("MultiLine"), rs->Value("ShowComboLabel")});
          ++copied.layouts;
        }
      }
      for (const auto& [field, row] : from.ListCodes(a)) {
        for (const auto& v : row) {
          if (v.IsString())
            CheckText(to, v.AsString(), "archive '" + a + "', a code of '" + field + "'");
        }
        to.AddCode(a, field, row[0].AsString(), row[1].IsNull() ? "" : kvt::CStr(row[1]));
        ++copied.codes;
      }
      // A document with a history, or deleted, takes it along under its new number once
      // the documents are read (a read in progress is not interrupted).
      // Deleted ones go in among the others in number order, so that a copy into a new
      // database keeps every number.
      std::vector<std::pair<std::int32_t, std::int32_t>> histories;  // from, to
      auto deleted = from.DeletedDocuments(a);
      std::sort(deleted.begin(), deleted.end(),
                [](const auto& x, const auto& y) { return x.first < y.first; });
      std::size_t next_deleted = 0;
      auto copy_deleted_before = [&](std::int64_t id) {
        for (; next_deleted < deleted.size() && deleted[next_deleted].first < id; ++next_deleted) {
          const auto& [was, deletion] = deleted[next_deleted];
          histories.emplace_back(was, to.CopyDocument(a, {was, deletion.saved_at, {}}));
          ++copied.deleted;
        }
      };
      from.ReadDocuments(a, [&](kvtengine::StoredDocument&& doc) {
        copy_deleted_before(doc.id);
        CheckValues(to, a, doc);
        const std::int32_t id = to.CopyDocument(a, doc);
        if (doc.version > 1) histories.emplace_back(doc.id, id);
        ++copied.documents;
      });
      copy_deleted_before(std::numeric_limits<std::int64_t>::max());
      for (const auto& [id, copy] : histories) {
        const auto rows = from.ReadHistory(id);
        const std::string where = "archive '" + a + "', document " + std::to_string(id);
        for (const auto& v : rows.versions) CheckText(to, v.saved_by, where + ": an author");
        for (const auto& c : rows.changes) {
          const std::string field =
              where + ", version " + std::to_string(c.version) + ", field '" + c.field + "'";
          CheckText(to, c.field, field + ": the name");
        }
        to.WriteHistory(copy, rows);
      }
      report.archives.push_back(std::move(copied));
    }
    for (const auto& [set, source] : from.ListScripts()) {
      CheckText(to, set, "the name of the script '" + set + "'");
      CheckText(to, source, "the script '" + set + "'");
      to.PutScript(set, source);
      ++report.scripts;
    }
    // The documents' files, each read checked into a private folder and kept from there: one
    // piece in memory at a time, whatever its size.
    std::optional<PrivateFolder> folder;
    from.ListFiles([&](const kvtfiles::StoredFile& f) {
      if (!folder) folder.emplace();
      const std::string name = f.name.empty() || f.name == "." || f.name == ".." ? "file" : f.name;
      const std::string path = (folder->Path() / name).string();
      {
        OutputFile out(path, {});
        kvtengine::ReadKeptFile(from, f.sha256, "", [&](std::string_view p) { out.Write(p); });
        out.Commit();
      }
      kvtengine::KeepFile(to, path, f.sha256);
      std::filesystem::remove(path);
      ++report.files;
    });
    for (const auto& learnt : from.ListLearnt()) {
      CheckText(to, learnt.key, "the autocomplete key '" + learnt.key + "'");
      CheckText(to, learnt.value, "an autocomplete value of '" + learnt.key + "'");
      to.PutLearnt(learnt);
      ++report.learnt;
    }
  });
  return report;
}

}  // namespace kvtapp
