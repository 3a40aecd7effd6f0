// The sixteen user-client methods: checks a decoded call against its method's shape and
// carries it out on the driver for one client. A refused call (shape, method number) does
// not reach the method.
#pragma once

#include <functional>

#include "protocol/UserClientProtocol.h"

namespace zv::driver {

class ZenvorDriver;
class com_Zenvor_userclient_Skarn;

// Receives the reply: at once for most methods, later (on the loop) for the two that wait
// for the device (5 sControlRequest, 14 sGetFeatureByte). Called exactly once.
using ReplySink = std::function<void(userclient::Reply reply)>;

void dispatchCall(const userclient::Call& call, com_Zenvor_userclient_Skarn& client,
                  ZenvorDriver& driver, ReplySink reply);

}  // namespace zv::driver
