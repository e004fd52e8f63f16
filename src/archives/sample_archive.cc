#include "archives/sample_archive.h"

#include "archives/archive_file.h"
#include "runtime/error.h"

namespace kvtarchive::sample {

extern const char* const kSampleFile;  // archives/fatture.toml, built in by CMake

namespace {

const ArchiveFile& Sample() {
  static const ArchiveFile archive = [] {
    Read read = ParseArchiveFile(kSampleFile, "archives/fatture.toml");
    if (!read.problems.empty()) {
      throw kvt::Error(2, "kvtArchive", "the built-in sample: " + read.problems[0].ToString());
    }
    return std::move(read.archive);
  }();
  return archive;
}

}  // namespace

const std::string& Script() {
  return Sample().script;
}

void CreateSampleArchive(kvtengine::ArchiveEngine& e) {
  e.Transaction([&] {
    e.DeleteArchive(kArchive);
    for (const Field& f : Sample().fields) {
      e.PutField(f.definition);
      for (const auto& [code, description] : f.codes) {
        e.AddCode(kArchive, f.definition.name, code, description);
      }
    }
    for (const Form& form : Sample().forms) {
      for (const auto& layout : form.layout) e.PutLayout(layout);
    }
    e.PutScript(kArchive, Script());
    e.PutScript("32", Script());
  });
}

void CreateScaledArchive(kvtengine::ArchiveEngine& e, const std::string& archive, int fields) {
  e.Transaction([&] {
    for (int i = 1; i <= fields; ++i) {
      const std::string name = "Campo" + std::to_string(i);
      kvtengine::FieldDefinition f{.archive = archive,
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

}  // namespace kvtarchive::sample
