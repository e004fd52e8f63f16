// The library's public classes, in one table: identifiers, member table and, for the classes
// hosts create, the factory. The server's entry points and the type library read only this.
#pragma once

#include <span>

#include "runtime/object.h"

namespace kvtfields::server {

struct PublicClass {
  const char* name;            // "FieldType"; the ProgID is kProgIdPrefix + name
  const char* clsid;           // class id, fixed
  const char* interface_name;  // its default interface, "_FieldType"
  const char* iid;             // that interface's id, fixed
  const kvt::ClassInfo& (*members)();
  kvt::ObjectRef (*create)();  // null: hosts cannot create it
  bool also_callback;          // it implements IFieldTypeEventCallBack too
};

/// The public classes in type-library order.
std::span<const PublicClass> PublicClasses();

}  // namespace kvtfields::server
