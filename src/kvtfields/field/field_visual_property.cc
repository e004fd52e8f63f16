#include "kvtfields/field/field_visual_property.h"

#include "runtime/class_builder.h"
#include "runtime/error.h"
#include "runtime/record_set.h"
#include "runtime/text.h"

namespace kvtfields {

const kvt::ClassInfo& FieldVisualProperty::StaticClass() {
  using F = FieldVisualProperty;
  static const kvt::ClassInfo info = kvt::ClassBuilder<F>("FieldVisualProperty")
                                         .Method<&F::Init>("Init")
                                         .Params({"DBLink", "Archive", "FieldName", "FormName"})
                                         .ByRef({"DBLink", "Archive", "FieldName", "FormName"})
                                         .Get<&F::HasVisualProperty>("HasVisualProperty")
                                         .Get<&F::Width>("Width")
                                         .Let<&F::LetWidth>("Width")
                                         .Params({"vdata"})
                                         .Get<&F::Height>("Height")
                                         .Let<&F::LetHeight>("Height")
                                         .Params({"vdata"})
                                         .Get<&F::BreakLine>("BreakLine")
                                         .Let<&F::LetBreakLine>("BreakLine")
                                         .Params({"vdata"})
                                         .Get<&F::MultiLine>("MultiLine")
                                         .Let<&F::LetMultiLine>("MultiLine")
                                         .Params({"vdata"})
                                         .Get<&F::ShowComboLabel>("ShowComboLabel")
                                         .Let<&F::LetShowComboLabel>("ShowComboLabel")
                                         .Params({"vdata"})
                                         .Build();
  return info;
}

void FieldVisualProperty::Init(const std::shared_ptr<IDBEngine>& db_link,
                               const std::string& archive, const std::string& field_name,
                               const std::string& form_name) {
  if (!db_link) throw kvt::RuntimeError(kvt::ErrorCode::kObjectNotSet, "DBLink");
  const kvt::Variant layout = db_link->GetFieldVisualProperties(archive, field_name, form_name);
  if (layout.IsNothing()) {
    mHasVisualProperty = false;
    return;
  }
  auto rs = kvt::FromVariant<std::shared_ptr<kvt::RecordSet>>(layout);
  mHasVisualProperty = true;  // before any column is read
  const kvt::ObjectRef self = shared_from_this();
  for (std::int32_t i = 0; i < rs->FieldCount(); ++i) {
    const std::string name = rs->FieldName(i);
    if (kvt::EqualsIgnoreCase(name, "archive") || kvt::EqualsIgnoreCase(name, "cod") ||
        kvt::EqualsIgnoreCase(name, "form")) {
      continue;
    }
    // Through the property's let, by name: a column that names no settable property fails.
    kvt::LetProperty(self, name, rs->Value(i));
  }
}

}  // namespace kvtfields
