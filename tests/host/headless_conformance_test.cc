// The host conformance suite on the headless window system.
#include "host/common/coordinator.h"
#include "host/conformance/host_conformance.h"
#include "host/headless/desktop.h"

namespace kvthost {
namespace {

class HeadlessDriver {
 public:
  HeadlessDriver() : desktop_(Desktop::Install()) {}
  ~HeadlessDriver() { desktop_->Uninstall(); }
  kvt::ObjectRef NewForm(const std::string& name) {
    auto form = desktop_->NewForm(name);
    form->Show();
    return form;
  }
  std::unique_ptr<IPerson> PersonOn(const kvt::ObjectRef& form) {
    return std::make_unique<User>(std::dynamic_pointer_cast<Form>(form));
  }
  kvt::ObjectRef NewCoordinator() { return std::make_shared<Coordinator>(); }
  void Settle() {}

 private:
  std::shared_ptr<Desktop> desktop_;
};

}  // namespace

namespace conformance {
INSTANTIATE_TYPED_TEST_SUITE_P(Headless, HostConformance, HeadlessDriver);
}  // namespace conformance
}  // namespace kvthost
