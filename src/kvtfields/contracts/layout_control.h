// The layout control that places a viewer window's labels and controls.
#pragma once

#include "runtime/class_builder.h"
#include "runtime/object.h"

namespace kvtfields {

inline constexpr const char* kLayoutControlProgId = "kvtFieldsResizer.Resizer";

class ILayoutControl : public kvt::Object {
 public:
  /// Binds the database engine, the window and the fields collection to arrange.
  virtual void AttachFields(const kvt::Variant& db_engine, kvt::ObjectRef& window,
                            const kvt::Variant& fields) = 0;
  /// Places every field's label and control on the window.
  virtual void ArrangeFields() = 0;

  template <class C>
  static kvt::ClassBuilder<C>& Describe(kvt::ClassBuilder<C>& b) {
    return b.template Method<&ILayoutControl::AttachFields>("AttachFields")
        .Params({"DBEngine", "Window", "Fields"})
        .template Method<&ILayoutControl::ArrangeFields>("ArrangeFields");
  }
};

}  // namespace kvtfields
