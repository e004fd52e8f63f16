#include "kvtfields/server/type_library.h"

#include <cstdio>

#include "kvtfields/events/field_type_event_callback.h"
#include "kvtfields/server/identifiers.h"
#include "kvtfields/server/public_classes.h"

namespace kvtfields::server {
namespace {

std::string Quote(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

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
    out += "\n        {\"slot\": " + std::to_string(++slot) + ", \"name\": " + Quote(m.name) +
           ", \"kind\": \"" + KindName(m.kind) + "\", \"memberId\": " + std::to_string(m.id);
    if (!m.result_type.empty()) out += ", \"type\": " + Quote(m.result_type);
    out += ", \"params\": [";
    for (std::size_t i = 0; i < m.params.size(); ++i) {
      const kvt::ParamInfo& p = m.params[i];
      if (i) out += ", ";
      out += "{\"name\": " + Quote(p.name.empty() ? "arg" + std::to_string(i + 1) : p.name) +
             ", \"type\": " + Quote(p.type) + ", \"byRef\": " + (p.by_ref ? "true" : "false") +
             ", \"optional\": " + (p.optional ? "true" : "false") + "}";
    }
    out += "]}";
  }
  return out + "\n      ]";
}

}  // namespace

std::string TypeLibraryJson() {
  std::string out = "{\n  \"name\": " + Quote(kTypeLibraryName) +
                    ",\n  \"libraryId\": " + Quote(kTypeLibraryId) + ",\n  \"version\": \"" +
                    std::to_string(kTypeLibraryMajor) + "." + std::to_string(kTypeLibraryMinor) +
                    "\",\n  \"locale\": " + std::to_string(kTypeLibraryLocale) +
                    ",\n  \"fileVersion\": " + Quote(kFileVersion) + ",\n  \"classes\": [";
  bool first = true;
  for (const PublicClass& c : PublicClasses()) {
    out += first ? "\n" : ",\n";
    first = false;
    out += "    {\"name\": " + Quote(c.name) + ", \"classId\": " + Quote(c.clsid) +
           ", \"progId\": " + Quote(std::string(kProgIdPrefix) + c.name) +
           ", \"creatable\": " + (c.create ? "true" : "false") + ",\n     \"interfaces\": [" +
           Quote(c.interface_name) + (c.also_callback ? ", " + Quote(kCallBackInterface) : "") +
           "],\n     \"interface\": {\"name\": " + Quote(c.interface_name) +
           ", \"interfaceId\": " + Quote(c.iid) + ", \"members\": " + Members(c.members()) + "}}";
  }
  out += "\n  ],\n  \"interfaces\": [\n    {\"name\": " + Quote(kCallBackInterface) +
         ", \"interfaceId\": " + Quote(kCallBackIid) +
         ", \"members\": " + Members(FieldTypeEventCallBack::StaticClass()) + "}\n  ]\n}\n";
  return out;
}

}  // namespace kvtfields::server
