// The host conformance suite on the Qt window system, offscreen.
#include <QApplication>
#include <QTest>

#include "host/common/coordinator.h"
#include "host/conformance/host_conformance.h"
#include "host/qt/qt_desktop.h"
#include "host/qt/qt_person.h"

namespace kvthost {
namespace {

class QtDriver {
 public:
  QtDriver() : desktop_(qt::QtDesktop::Install(qt::QtDesktop::Messages::kRecord)) {}
  ~QtDriver() {
    Settle();
    desktop_->Uninstall();
  }
  kvt::ObjectRef NewForm(const std::string& name) {
    auto form = desktop_->NewForm(name);
    form->Show();
    form->Window()->activateWindow();
    Settle();
    return form;
  }
  std::unique_ptr<IPerson> PersonOn(const kvt::ObjectRef& form) {
    return std::make_unique<qt::QtPerson>(std::dynamic_pointer_cast<qt::QtForm>(form));
  }
  kvt::ObjectRef NewCoordinator() { return std::make_shared<Coordinator>(); }
  void Settle() { QApplication::processEvents(); }

 private:
  std::shared_ptr<qt::QtDesktop> desktop_;
};

}  // namespace

namespace conformance {
INSTANTIATE_TYPED_TEST_SUITE_P(Qt, HostConformance, QtDriver);
}  // namespace conformance
}  // namespace kvthost
