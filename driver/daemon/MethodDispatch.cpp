#include "daemon/MethodDispatch.h"

#include "daemon/ConnectedClient.h"
#include "daemon/DriverLog.h"
#include "daemon/ZenvorDriver.h"

namespace zv::driver {

using namespace userclient;

namespace {

std::uint32_t element(std::uint64_t scalar) {
  return static_cast<std::uint32_t>(scalar);
}

// A signed 32-bit argument sent as a u64 (two's complement in the low 32 bits).
std::int32_t signed32(std::uint64_t scalar) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(scalar));
}

}  // namespace

void dispatchCall(const Call& call, com_Zenvor_userclient_Skarn& client, ZenvorDriver& driver,
                  ReplySink reply) {
  Reply r;
  r.method = call.method;
  r.tag = call.tag;
  r.result = checkShape(call);
  if (r.result != kReturnSuccess) {
    reply(std::move(r));
    return;
  }
  // The shape holds, so the outputs have the method's counts.
  const MethodShape& shape = kMethodShapes[call.method];
  r.scalars.assign(shape.scalarsOut, 0);
  r.structure.assign(shape.structOut, 0);
  const std::vector<std::uint64_t>& in = call.scalars;
  ZVReportHandler* handler = driver.reportHandler();

  switch (static_cast<Method>(call.method)) {
    case sUserClientOpen:
    case sUserClientClose:
    case sSetCPI:
    case sSetMouseAxisSensitivity:
    case sReportAllElementEvents:
      break;
    case sSetElementEventCallback:
      client.registerCallback(call.reference);
      break;
    case sGetDeviceInfo: {
      const auto bytes = driver.getDeviceInfo().encode();
      r.structure.assign(bytes.begin(), bytes.end());
      break;
    }
    case sElementOverride:
      if (handler) handler->setElementOverride(element(in[0]), in[1] != 0);
      break;
    case sControlRequest: {
      const auto request = ZVControlRequest::decode(call.structure);  // the size was checked
      driver.controlRequest(*request, client.peer().uid == 0,
                            [r, reply](std::uint32_t code, std::uint64_t data) mutable {
                              r.result = code;
                              for (int i = 0; i < 8; ++i) {
                                r.structure[i] = static_cast<std::uint8_t>(data >> (8 * i));
                              }
                              reply(std::move(r));
                            });
      return;
    }
    case sSeizeOverrides:
      if (handler) handler->setExclusiveInterface(in[0] != 0 ? &client : nullptr);
      break;
    case sUserClientIsActive:
      r.scalars[0] = handler && handler->exclusiveInterface() == &client ? 1 : 0;
      break;
    case sSetPrecAim:
      if (handler) handler->setPrecAimPercentage(element(in[1]), signed32(in[0]));
      break;
    case sSetMouseAxis:
      driver.setMouseAxis(element(in[0]), element(in[1]));
      break;
    case sSetHatControl:
      if (handler) handler->setHatElement(element(in[0]));
      break;
    case sGetFeatureByte:
      driver.getFeatureByte(static_cast<std::uint8_t>(in[0]),
                            [r, reply](std::uint32_t code, std::uint8_t byte) mutable {
                              r.result = code;
                              r.scalars[0] = byte;
                              reply(std::move(r));
                            });
      return;
    case sSetButtonStates:
      // The handler keeps only the bits of the device's button field.
      if (handler && handler->setButtonOverrides(in[0]) != in[0]) {
        driverLog(LOG_DEBUG, "button states 0x%llx reach beyond the button field 0x%llx\n",
                  static_cast<unsigned long long>(in[0]),
                  static_cast<unsigned long long>(handler->buttonFieldMask()));
      }
      break;
  }
  reply(std::move(r));
}

}  // namespace zv::driver
