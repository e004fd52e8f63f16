#include "kvtfields/field/field_type_event_callback.h"

namespace kvtfields {

const kvt::ClassInfo& FieldTypeEventCallBack::StaticClass() {
  static const kvt::ClassInfo info = [] {
    kvt::ClassBuilder<FieldTypeEventCallBack> b("IFieldTypeEventCallBack");
    return IFieldTypeEventCallBack::Describe(b).Build();
  }();
  return info;
}

}  // namespace kvtfields
