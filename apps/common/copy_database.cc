#include "common/copy_database.h"

#include "runtime/record_set.h"

namespace kvtapp {

namespace {

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

}  // namespace

CopyReport CopyDatabase(kvtengine::ArchiveEngine& from, kvtengine::ArchiveEngine& to) {
  const std::vector<std::string> archives = from.ListAllArchives();
  for (const auto& a : archives) {
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
      for (const auto& n : names) to.PutField(Definition(from, a, n));
      copied.fields = names.size();
      for (const auto& form : from.ListForms(a)) {
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
        to.AddCode(a, field, row[0].AsString(), row[1].IsNull() ? "" : kvt::CStr(row[1]));
        ++copied.codes;
      }
      for (const auto& doc : from.ListDocuments(a)) {
        to.CopyDocument(a, doc);
        ++copied.documents;
      }
      report.archives.push_back(std::move(copied));
    }
    for (const auto& [set, source] : from.ListScripts()) {
      to.PutScript(set, source);
      ++report.scripts;
    }
    for (const auto& learnt : from.ListLearnt()) {
      to.PutLearnt(learnt);
      ++report.learnt;
    }
  });
  return report;
}

}  // namespace kvtapp
