#include "kvtfields/server/public_classes.h"

#include "kvtfields/collection/fields_collection.h"
#include "kvtfields/field/field_type.h"
#include "kvtfields/field/field_visual_property.h"
#include "kvtfields/viewer/field_viewer.h"

namespace kvtfields::server {
namespace {

template <class C>
kvt::ObjectRef Make() {
  return C::Create();
}

constexpr PublicClass kClasses[] = {
    {"FieldType", "{FAD6AB8A-2E63-43EC-99FA-76BB372812A8}", "_FieldType",
     "{D349F1C8-0714-4514-9E01-2C2F6654AD70}", &FieldType::StaticClass, &Make<FieldType>, false},
    {"FieldsCollection", "{64FFE0B0-9C99-4B2B-8CC9-ED824158CE75}", "_FieldsCollection",
     "{29BCD3E2-3A2B-4054-870C-510B8969BC5F}", &FieldsCollection::StaticClass,
     &Make<FieldsCollection>, true},
    {"FieldViewer", "{95B60E73-3B57-4090-BD5B-41ABAEC7D7CB}", "_FieldViewer",
     "{B9080815-4E2F-4DDF-B463-FCA2FDD20C03}", &FieldViewer::StaticClass, &Make<FieldViewer>,
     false},
    {"FieldVisualProperty", "{A959ED3B-5C04-4710-BD28-76E3B62D64C9}", "_FieldVisualProperty",
     "{6B025FA3-0DAC-48C1-9CC1-5255A087A226}", &FieldVisualProperty::StaticClass, nullptr, false},
};

}  // namespace

std::span<const PublicClass> PublicClasses() {
  return kClasses;
}

}  // namespace kvtfields::server
