// The library's fixed identifiers: assigned once, kept across versions, so that hosts built
// against the library keep working. Everything else (registration, the type library) reads
// them from here.
#pragma once

#include <array>
#include <cstdint>

namespace kvtfields::server {

inline constexpr const char* kTypeLibraryName = "kvtFields";
inline constexpr const char* kTypeLibraryId = "{992C5B6C-FCD5-41B1-959A-FDD118A6933D}";
inline constexpr std::uint16_t kTypeLibraryMajor = 4;
inline constexpr std::uint16_t kTypeLibraryMinor = 1;
inline constexpr std::uint32_t kTypeLibraryLocale = 1033;
inline constexpr const char* kFileVersion = "1.09.0004";
inline constexpr const char* kProgIdPrefix = "kvtFields.";

/// A public class: its class id, the id of its default interface, whether hosts create it.
struct PublicClass {
  const char* name;
  const char* clsid;
  const char* interface_name;
  const char* iid;
  bool creatable;
};

inline constexpr std::array<PublicClass, 4> kClasses{{
    {"FieldType", "{FAD6AB8A-2E63-43EC-99FA-76BB372812A8}", "_FieldType",
     "{D349F1C8-0714-4514-9E01-2C2F6654AD70}", true},
    {"FieldsCollection", "{64FFE0B0-9C99-4B2B-8CC9-ED824158CE75}", "_FieldsCollection",
     "{29BCD3E2-3A2B-4054-870C-510B8969BC5F}", true},
    {"FieldViewer", "{95B60E73-3B57-4090-BD5B-41ABAEC7D7CB}", "_FieldViewer",
     "{B9080815-4E2F-4DDF-B463-FCA2FDD20C03}", true},
    {"FieldVisualProperty", "{A959ED3B-5C04-4710-BD28-76E3B62D64C9}", "_FieldVisualProperty",
     "{6B025FA3-0DAC-48C1-9CC1-5255A087A226}", false},
}};

/// The interface owners implement; no class of it is creatable.
inline constexpr const char* kCallBackInterface = "IFieldTypeEventCallBack";
inline constexpr const char* kCallBackIid = "{0DA4AF5A-D16E-4B86-91A6-A89334A59F9C}";

}  // namespace kvtfields::server
