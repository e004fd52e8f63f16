#include "kvtfields/server/type_library.h"

#include <cstdio>

#include "kvtfields/field/field_type_event_callback.h"
#include "kvtfields/server/identifiers.h"
#include "kvtfields/server/public_classes.h"
#include "runtime/text.h"

namespace kvtfields::server {
namespace {

const char* KindName(kvt::MemberKind k) {
  switch (k) {
    case kvt::MemberKind::kMethod:
      return "method";
    case kvt::MemberKind::kGet:
      return "propget";
    case kvt::MemberKind::kLet:
      return "propput";
    case kvt::MemberKind::kSet:
      return "propputref";
  }
  return "method";
}

std::string Members(const kvt::ClassInfo& cls) {
  std::string out = "[";
  int slot = 0;
  for (const kvt::MemberInfo& m : cls.Members()) {
    if (slot) out += ",";
    out += "\n        {\"slot\": " + std::to_string(++slot) +
           ", \"name\": " + kvt::QuotedText(m.name) + ", \"kind\": \"" + KindName(m.kind) +
           "\", \"memberId\": " + std::to_string(m.id);
    if (!m.result_type.empty()) out += ", \"type\": " + kvt::QuotedText(m.result_type);
    out += ", \"params\": [";
    for (std::size_t i = 0; i < m.params.size(); ++i) {
      const kvt::ParamInfo& p = m.params[i];
      if (i) out += ", ";
      out +=
          "{\"name\": " + kvt::QuotedText(p.name.empty() ? "arg" + std::to_string(i + 1) : p.name) +
          ", \"type\": " + kvt::QuotedText(p.type) +
          ", \"byRef\": " + (p.by_ref ? "true" : "false") +
          ", \"optional\": " + (p.optional ? "true" : "false") + "}";
    }
    out += "]}";
  }
  return out + "\n      ]";
}

}  // namespace

std::string TypeLibraryJson() {
  std::string out =
      "{\n  \"name\": " + kvt::QuotedText(kTypeLibraryName) +
      ",\n  \"libraryId\": " + kvt::QuotedText(kTypeLibraryId) + ",\n  \"version\": \"" +
      std::to_string(kTypeLibraryMajor) + "." + std::to_string(kTypeLibraryMinor) +
      "\",\n  \"locale\": " + std::to_string(kTypeLibraryLocale) +
      ",\n  \"fileVersion\": " + kvt::QuotedText(kFileVersion) + ",\n  \"classes\": [";
  bool first = true;
  for (const PublicClass& c : PublicClasses()) {
    out += first ? "\n" : ",\n";
    first = false;
    out += "    {\"name\": " + kvt::QuotedText(c.name) +
           ", \"classId\": " + kvt::QuotedText(c.clsid) +
           ", \"progId\": " + kvt::QuotedText(std::string(kProgIdPrefix) + c.name) +
           ", \"creatable\": " + (c.create ? "true" : "false") + ",\n     \"interfaces\": [" +
           kvt::QuotedText(c.interface_name) +
           (c.also_callback ? ", " + kvt::QuotedText(kCallBackInterface) : "") +
           "],\n     \"interface\": {\"name\": " + kvt::QuotedText(c.interface_name) +
           ", \"interfaceId\": " + kvt::QuotedText(c.iid) +
           ", \"members\": " + Members(c.members()) + "}}";
  }
  out += "\n  ],\n  \"interfaces\": [\n    {\"name\": " + kvt::QuotedText(kCallBackInterface) +
         ", \"interfaceId\": " + kvt::QuotedText(kCallBackIid) +
         ", \"members\": " + Members(FieldTypeEventCallBack::StaticClass()) + "}\n  ]\n}\n";
  return out;
}

}  // namespace kvtfields::server
