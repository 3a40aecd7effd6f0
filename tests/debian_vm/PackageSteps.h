// The steps with the package: installing it with apt-get, upgrading from the previous
// version with the user's files kept and the services restarted, removing and purging it,
// and the settings window's uninstall.sh on an install made with `cmake --install`.
#pragma once

#include "SystemGuest.h"

namespace zv::vmtest {

void addInstallStep(SystemGuest& guest);
void addUpgradeAndRemovalSteps(SystemGuest& guest);

}  // namespace zv::vmtest
