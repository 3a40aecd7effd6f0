// The sixteen methods through a real socket: their shapes, refusals and effects.
#include <gtest/gtest.h>

#include "DaemonHarness.h"
#include "daemon/ZenvorDriver.h"

namespace zv::driver::testing {
namespace {

using namespace userclient;

// Type 1 reports: 7 bytes, buttons 1-8 in byte 0, 9-16 in byte 1, X, Y (16 bits), wheel.
const std::vector<std::uint8_t> kIdle = {0, 0, 0, 0, 0, 0, 0};
const std::vector<std::uint8_t> kButton1 = {0x01, 0, 0, 0, 0, 0, 0};
const std::vector<std::uint8_t> kButton9 = {0, 0x01, 0, 0, 0, 0, 0};

TEST(UserClientMethods, EveryShapeMismatchIsRefusedBeforeTheMethodRuns) {
  DaemonHarness d;
  auto c = d.listener();
  for (std::uint32_t method = 0; method < kMethodCount; ++method) {
    const MethodShape& s = kMethodShapes[method];
    const std::vector<std::uint64_t> scalars(s.scalarsIn, 0x90001);
    const std::vector<std::uint8_t> structure(s.structIn, 0);
    const struct {
      std::size_t scalarsIn, structIn;
      std::uint32_t scalarsOut, structOut;
    } wrong[] = {{s.scalarsIn + 1, s.structIn, s.scalarsOut, s.structOut},
                 {s.scalarsIn, s.structIn + 1, s.scalarsOut, s.structOut},
                 {s.scalarsIn, s.structIn, s.scalarsOut + 1, s.structOut},
                 {s.scalarsIn, s.structIn, s.scalarsOut, s.structOut + 1}};
    for (const auto& w : wrong) {
      const auto reply =
          rawCall(*c, method, std::vector<std::uint64_t>(w.scalarsIn, 0x90001),
                  std::vector<std::uint8_t>(w.structIn, 0), w.scalarsOut, w.structOut);
      ASSERT_TRUE(reply);
      EXPECT_EQ(reply->result, kReturnBadArgument) << s.name;
      EXPECT_TRUE(reply->scalars.empty() && reply->structure.empty()) << s.name;
    }
    if (s.scalarsIn > 0) {
      const auto fewer = rawCall(*c, method, std::vector<std::uint64_t>(s.scalarsIn - 1, 1), {},
                                 s.scalarsOut, s.structOut);
      EXPECT_EQ(fewer->result, kReturnBadArgument) << s.name;
    }
  }
  // None of them ran: no override (no event for button 1), no seizing, no forced buttons.
  EXPECT_TRUE(drainEvents(*c).empty());
  d.report(kButton1);
  EXPECT_EQ(d.inputs().back(), kButton1);
  EXPECT_EQ(d.onLoop([&] { return d.driver->reportHandler()->exclusiveInterface(); }), nullptr);
  EXPECT_EQ(d.uhid.inputCount(), 1u);  // the report only: no synthetic pointer report
}

TEST(UserClientMethods, MethodNumbersFromSixteenAreUnsupported) {
  DaemonHarness d;
  auto c = d.connect();
  for (std::uint32_t method : {16u, 17u, 255u, 0xFFFFFFFFu}) {
    const auto reply = rawCall(*c, method, {}, {}, 0, 0);
    EXPECT_EQ(reply->result, kReturnUnsupported) << method;
    EXPECT_EQ(reply->method, method);
  }
}

TEST(UserClientMethods, TheMethodsWithoutEffectSucceed) {
  DaemonHarness d;
  auto c = d.connect();
  EXPECT_EQ(call(*c, sUserClientOpen)->result, kReturnSuccess);
  EXPECT_EQ(call(*c, sUserClientClose)->result, kReturnSuccess);
  EXPECT_EQ(call(*c, sSetCPI, {800, 800, 1})->result, kReturnSuccess);
  EXPECT_EQ(call(*c, sSetMouseAxisSensitivity, {5, 1})->result, kReturnSuccess);
  EXPECT_EQ(call(*c, sReportAllElementEvents, {1})->result, kReturnSuccess);
  // sUserClientClose does not end the connection: closing the socket does.
  EXPECT_EQ(call(*c, sUserClientOpen)->result, kReturnSuccess);
}

TEST(UserClientMethods, OverrideSendsTheCurrentValueAtOnceAndSuppressesPresses) {
  DaemonHarness d;
  auto c = d.listener(0xABCDEF);
  EXPECT_EQ(call(*c, sElementOverride, {0x90001, 1})->result, kReturnSuccess);
  std::string error;
  auto first = c->readCompletion(5000, &error);
  ASSERT_TRUE(first) << error;
  EXPECT_EQ(first->reference, 0xABCDEFu);  // the reference given with method 2
  EXPECT_EQ(first->element(), 0x90001u);
  EXPECT_EQ(first->value(), 0u);
  EXPECT_EQ(first->bitSize(), 1u);

  d.report(kButton1);
  EXPECT_EQ(d.inputs().back(), kIdle);  // the desktop never sees the press
  d.report(kIdle);
  EXPECT_EQ(drainEvents(*c), (std::vector<Event>{{0x90001, 1}, {0x90001, 0}}));

  // Given back: presses pass again, and the event of the change comes at once.
  call(*c, sElementOverride, {0x90001, 0});
  d.report(kButton1);
  EXPECT_EQ(d.inputs().back(), kButton1);
  EXPECT_EQ(drainEvents(*c), (std::vector<Event>{{0x90001, 0}}));
}

TEST(UserClientMethods, ElementsTheDeviceLacksAreIgnored) {
  DaemonHarness d;
  auto c = d.listener();
  EXPECT_EQ(call(*c, sElementOverride, {0x90040, 1})->result, kReturnSuccess);
  EXPECT_EQ(call(*c, sSetHatControl, {0x10039})->result, kReturnSuccess);
  EXPECT_TRUE(drainEvents(*c).empty());
}

TEST(UserClientMethods, EventsGoToEveryRegisteredClientAndOnlyToThem) {
  DaemonHarness d;
  auto a = d.listener(1);
  auto b = d.listener(2);
  auto silent = d.connect();  // never calls method 2
  d.report(kButton9);         // button 9 is overridden from the start on type 1
  const std::vector<Event> press = {{0x90009, 1}};
  EXPECT_EQ(drainEvents(*a), press);
  EXPECT_EQ(drainEvents(*b), press);
  EXPECT_TRUE(drainEvents(*silent).empty());
}

TEST(UserClientMethods, SeizedEventsGoToTheSeizingClientAlone) {
  DaemonHarness d;
  auto a = d.listener();
  auto b = d.listener();
  EXPECT_EQ(call(*a, sSeizeOverrides, {1})->result, kReturnSuccess);
  EXPECT_EQ(call(*a, sUserClientIsActive)->scalars, std::vector<std::uint64_t>{1});
  EXPECT_EQ(call(*b, sUserClientIsActive)->scalars, std::vector<std::uint64_t>{0});
  d.report(kButton9);
  EXPECT_EQ(drainEvents(*a), (std::vector<Event>{{0x90009, 1}}));
  EXPECT_TRUE(drainEvents(*b).empty());

  call(*a, sSeizeOverrides, {0});
  EXPECT_EQ(call(*a, sUserClientIsActive)->scalars, std::vector<std::uint64_t>{0});
  d.report(kIdle);
  EXPECT_EQ(drainEvents(*a), (std::vector<Event>{{0x90009, 0}}));
  EXPECT_EQ(drainEvents(*b), (std::vector<Event>{{0x90009, 0}}));
}

TEST(UserClientMethods, DeviceInfoCarriesTheIdsAndTheTypeWordReadAtStart) {
  DaemonHarness d;
  auto c = d.connect();
  const auto reply = call(*c, sGetDeviceInfo);
  ASSERT_EQ(reply->result, kReturnSuccess);
  const auto info = ZVDeviceInfo::decode(reply->structure);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->vendorID, 0x5A56u);
  EXPECT_EQ(info->productID, 0x1704u);
  EXPECT_EQ(info->typeID, 0x1234u);
  // Read with the request of the type word: 0xC0/0x90, value 0, index 11, 2 bytes.
  const auto transfers = d.usb.transfers();
  ASSERT_EQ(transfers.size(), 1u);
  EXPECT_EQ(transfers[0].requestType, 0xC0);
  EXPECT_EQ(transfers[0].request, 0x90);
  EXPECT_EQ(transfers[0].index, 11);
  EXPECT_EQ(transfers[0].data.size(), 2u);
}

ZVControlRequest memoryRead(std::uint16_t address) {
  ZVControlRequest r;
  r.requestType = 0xC0;
  r.request = 0x90;
  r.index = address;
  r.length = 2;
  return r;
}

std::uint64_t dataWord(const Reply& reply) {
  std::uint64_t word = 0;
  for (int i = 0; i < 8; ++i) word |= std::uint64_t{reply.structure[i]} << (8 * i);
  return word;
}

TEST(UserClientMethods, ControlRequestsReadDeviceMemoryAndGuardWrites) {
  DaemonHarness d;
  d.usb.setAnswer(0x90, 0x20, {0x5A, 0x01});
  auto c = d.connect();
  const auto encoded = [](const ZVControlRequest& r) {
    const auto bytes = r.encode();
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
  };

  auto reply = call(*c, sControlRequest, {}, encoded(memoryRead(0x20)));
  EXPECT_EQ(reply->result, kReturnSuccess);
  EXPECT_EQ(dataWord(*reply), 0x015Au);

  ZVControlRequest write;
  write.requestType = 0x40;
  write.request = 0x91;
  write.index = 3;
  write.length = 1;
  write.data = 0x7F;
  EXPECT_EQ(call(*c, sControlRequest, {}, encoded(write))->result, kReturnSuccess);  // root
  EXPECT_EQ(d.usb.transfers().back().data, std::vector<std::uint8_t>{0x7F});

  // Another user (here: a socket adopted with uid 1000) may read but not write.
  int ends[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends), 0);
  d.onLoop([&] { return d.daemon->server().adopt(ends[0], {1000, 4242}); });
  const auto before = d.usb.transfers().size();
  {
    // A raw exchange on the pair: greeting, then the call.
    std::vector<std::uint8_t> frame(kMaxFrameSize);
    ASSERT_EQ(recv(ends[1], frame.data(), frame.size(), 0), static_cast<ssize_t>(kGreetingSize));
    Call call;
    call.method = sControlRequest;
    call.structure = encoded(write);
    call.structOut = 8;
    const auto bytes = encodeCall(call);
    ASSERT_EQ(send(ends[1], bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
    const ssize_t n = recv(ends[1], frame.data(), frame.size(), 0);
    const auto answer = decodeReply({frame.data(), static_cast<std::size_t>(n)});
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->result, kReturnNotPrivileged);
    close(ends[1]);
  }
  EXPECT_EQ(d.usb.transfers().size(), before);

  // At most the data word's 8 bytes.
  ZVControlRequest tooLong = memoryRead(0x20);
  tooLong.length = 9;
  EXPECT_EQ(call(*c, sControlRequest, {}, encoded(tooLong))->result, kReturnBadArgument);

  // A transfer the device refuses is a failure, not a zero.
  d.usb.setError(EPIPE);
  reply = call(*c, sControlRequest, {}, encoded(memoryRead(0x20)));
  EXPECT_EQ(reply->result, kReturnError);
  EXPECT_EQ(dataWord(*reply), 0u);
}

TEST(UserClientMethods, BluetoothControlRequestsDoNothingAndTheTypeWordIsZero) {
  DaemonHarness d({.bus = kBusBluetooth});
  EXPECT_EQ(d.driver->className(), kBluetoothDriverClass);
  EXPECT_NE(d.socketPath().find("com_Zenvor_driver_bt_Skarn@test-mouse"), std::string::npos);
  auto c = d.connect();
  ZVControlRequest r = memoryRead(0x20);
  r.data = 0x99;
  const auto bytes = r.encode();
  const auto reply = call(*c, sControlRequest, {}, {bytes.begin(), bytes.end()});
  EXPECT_EQ(reply->result, kReturnSuccess);
  EXPECT_EQ(dataWord(*reply), 0x99u);  // left as it was
  EXPECT_EQ(ZVDeviceInfo::decode(call(*c, sGetDeviceInfo)->structure)->typeID, 0u);
  EXPECT_TRUE(d.usb.transfers().empty());
}

TEST(UserClientMethods, FeatureByteIsTheSecondByteOfTheReport) {
  DaemonHarness d;
  d.hidraw.setFeatureReport(5, {5, 0x42, 0x43});
  d.hidraw.setFeatureReport(6, {6});  // shorter than two bytes
  auto c = d.connect();
  auto reply = call(*c, sGetFeatureByte, {0x105});  // only the low 8 bits name the report
  EXPECT_EQ(reply->result, kReturnSuccess);
  EXPECT_EQ(reply->scalars, std::vector<std::uint64_t>{0x42});
  reply = call(*c, sGetFeatureByte, {6});
  EXPECT_EQ(reply->result, kReturnSuccess);
  EXPECT_EQ(reply->scalars, std::vector<std::uint64_t>{0});
  reply = call(*c, sGetFeatureByte, {7});  // the device stalls it
  EXPECT_EQ(reply->result, kReturnError);
  EXPECT_EQ(reply->scalars, std::vector<std::uint64_t>{0});
}

TEST(UserClientMethods, ButtonStatesGoOutAtOnceAndIntoEveryReport) {
  DaemonHarness d;
  auto c = d.connect();
  EXPECT_EQ(call(*c, sSetButtonStates, {0x2})->result, kReturnSuccess);
  ASSERT_EQ(d.uhid.inputCount(), 1u);
  // The type's synthetic pointer report: no ID, button word first, padded to the length of
  // the presented descriptor's report (the kernel drops shorter ones).
  EXPECT_EQ(d.inputs().back(), (std::vector<std::uint8_t>{0x02, 0, 0, 0, 0, 0, 0}));
  d.report(kIdle);
  EXPECT_EQ(d.inputs().back(), (std::vector<std::uint8_t>{0x02, 0, 0, 0, 0, 0, 0}));
}

TEST(UserClientMethods, PrecisionAxisAndHatReachTheReportHandler) {
  DaemonHarness d;
  auto c = d.connect();
  // Percentage first, then the element; negative numbers travel as two's complement.
  call(*c, sSetPrecAim, {25, 0x90007});
  call(*c, sSetMouseAxis, {0x10038, 2});
  call(*c, sSetHatControl, {0x10038});
  const auto state = d.onLoop([&] {
    ZVReportHandler* h = d.driver->reportHandler();
    return std::make_tuple(h->precisionElement(), h->xFilter().percent(), h->yAxisElement(),
                           h->elementWithCookie(0x10038)->hat);
  });
  EXPECT_EQ(state, std::make_tuple(0x90007u, 25, 0x10038u, true));
  call(*c, sSetPrecAim, {static_cast<std::uint64_t>(-5), 0});
  EXPECT_EQ(d.onLoop([&] { return d.driver->reportHandler()->xFilter().percent(); }), -5);
  EXPECT_EQ(d.onLoop([&] { return d.driver->reportHandler()->precisionElement(); }), 0x90007u);
  EXPECT_TRUE(d.log.contains("set mosue axis 65592\n"));
}

}  // namespace
}  // namespace zv::driver::testing
