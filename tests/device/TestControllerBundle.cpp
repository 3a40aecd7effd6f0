// The code of a device bundle for the scan's tests: one controller class of its own.
#include "device/ControllerClasses.h"
#include "device/DeviceController.h"

namespace {

class TestController : public zv::device::DeviceController {
 public:
  using DeviceController::DeviceController;
  std::string editorJS() const override { return "/* from the bundle's code */"; }
};

}  // namespace

extern "C" __attribute__((visibility("default"))) void ZVRegisterControllerClasses() {
  zv::device::registerControllerClass(
      "TestController", [](zv::json::DictionaryPtr description, const std::filesystem::path& path) {
        return std::make_shared<TestController>(std::move(description), path);
      });
}
