#include "output/InputAccess.h"

namespace zv::output {

std::string inputAccessAdvice() {
  return "allow your user to use the input devices: install the udev rule "
         "KERNEL==\"uinput\", GROUP=\"input\", MODE=\"0660\" (for example in "
         "/etc/udev/rules.d/70-kinetra.rules), load the uinput module (sudo modprobe uinput), "
         "add yourself to the input group (sudo usermod -aG input $USER), reload the rules "
         "(sudo udevadm control --reload && sudo udevadm trigger) and log in again";
}

}  // namespace zv::output
