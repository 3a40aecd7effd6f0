#include "platform/FreedMemory.h"

#include <malloc.h>

namespace zv::platform {

void releaseFreedMemory() {
  ::malloc_trim(0);
}

}  // namespace zv::platform
