// The frame layout both sides compile: what a frame looks like on the wire and which
// frames the decoders refuse.
#include <gtest/gtest.h>

#include "protocol/PresentedMouse.h"
#include "protocol/UserClientProtocol.h"

namespace zv::userclient {
namespace {

TEST(UserClientProtocol, CallFrameLayout) {
  Call c;
  c.method = sSetPrecAim;
  c.tag = 0x01020304;
  c.scalars = {50, 0x90006};
  c.reference = 0x1122334455667788;
  const auto bytes = encodeCall(c);
  ASSERT_EQ(bytes.size(), kCallHeaderSize + 16);
  EXPECT_EQ(wire::getU32(bytes.data()), kCallFrame);
  EXPECT_EQ(wire::getU32(bytes.data() + 4), 8u);
  EXPECT_EQ(bytes[8], 0x04);  // little-endian
  EXPECT_EQ(wire::getU32(bytes.data() + 12), 2u);
  EXPECT_EQ(wire::getU64(bytes.data() + 32), 0x1122334455667788u);
  EXPECT_EQ(wire::getU64(bytes.data() + 48), 0x90006u);
  const auto back = decodeCall(bytes);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->scalars, c.scalars);
  EXPECT_EQ(back->tag, c.tag);
  EXPECT_EQ(checkShape(*back), kReturnSuccess);
}

TEST(UserClientProtocol, DecodersRefuseWhatTheirCountsDoNotDescribe) {
  Call c;
  c.method = sControlRequest;
  c.structure.assign(kControlRequestSize, 0xAA);
  c.structOut = 8;
  auto bytes = encodeCall(c);
  std::string why;
  EXPECT_TRUE(decodeCall(bytes, &why));

  auto shorter = bytes;
  shorter.pop_back();
  EXPECT_FALSE(decodeCall(shorter, &why));
  EXPECT_EQ(why, "call frame length differs from its counts");
  EXPECT_FALSE(decodeCall(std::span(bytes).first(kCallHeaderSize - 1), &why));
  EXPECT_EQ(why, "call frame shorter than its header");
  auto tooMany = bytes;
  wire::putU32(tooMany.data() + 16, kMaxStructSize + 1);
  EXPECT_FALSE(decodeCall(tooMany, &why));
  EXPECT_EQ(why, "structure size beyond the limit");
  // Counts that would overflow a 32-bit length sum are refused by the limits first.
  wire::putU32(tooMany.data() + 12, 0x20000000);
  EXPECT_FALSE(decodeCall(tooMany, &why));

  Reply r;
  r.result = kReturnBadArgument;
  r.scalars = {7};
  auto reply = encodeReply(r);
  EXPECT_EQ(decodeReply(reply)->result, kReturnBadArgument);
  reply.push_back(0);
  EXPECT_FALSE(decodeReply(reply));
  EXPECT_FALSE(decodeReply(bytes));  // a call is not a reply
  EXPECT_TRUE(
      encodeCall(Call{0, 0, std::vector<std::uint64_t>(kMaxScalars + 1), {}, 0, 0, 0}).empty());
}

TEST(UserClientProtocol, CompletionsCarrySixArguments) {
  const auto frame = encodeCompletion(99, 0x90009, 1, 1);
  ASSERT_EQ(frame.size(), kCompletionSize);
  const auto c = decodeCompletion(frame);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->argumentCount, 6u);
  EXPECT_EQ(c->reference, 99u);
  EXPECT_EQ(c->element(), 0x90009u);
  EXPECT_EQ(c->arguments[3], 0u);
  // A completion of another count decodes (the receiver ignores it); a lying one does not.
  auto four = std::vector<std::uint8_t>(frame.begin(), frame.begin() + 24 + 32);
  wire::putU32(four.data() + 8, 4);
  EXPECT_EQ(decodeCompletion(four)->argumentCount, 4u);
  wire::putU32(four.data() + 8, 5);
  EXPECT_FALSE(decodeCompletion(four));
}

TEST(UserClientProtocol, ShapesRecordsAndServiceNames) {
  Call c;
  c.method = sGetFeatureByte;
  c.scalars = {3};
  c.scalarsOut = 1;
  EXPECT_EQ(checkShape(c), kReturnSuccess);
  c.scalarsOut = 0;
  EXPECT_EQ(checkShape(c), kReturnBadArgument);
  c.method = kMethodCount;
  EXPECT_EQ(checkShape(c), kReturnUnsupported);

  ZVControlRequest request{0xC0, 0x90, 0, 11, 2, 0xFFFF};
  EXPECT_EQ(ZVControlRequest::decode(request.encode())->index, 11u);
  const auto encoded = request.encode();
  EXPECT_FALSE(ZVControlRequest::decode(std::span(encoded).first(47)));
  const auto info = ZVDeviceInfo{0x5A56, 0x1704, 7}.encode();
  EXPECT_EQ(info.size(), 20u);
  EXPECT_EQ(info[16], 7);
  EXPECT_EQ(ZVDeviceInfo::decode(info)->productID, 0x1704u);

  EXPECT_EQ(servicePath("/run/kinetra/services/", kUsbDriverClass, "hidraw3"),
            "/run/kinetra/services/com_Zenvor_driver_usb_Skarn@hidraw3");
  const auto name = parseServiceName("com_Zenvor_driver_bt_Skarn@hidraw12");
  ASSERT_TRUE(name);
  EXPECT_EQ(name->driverClass, kBluetoothDriverClass);
  EXPECT_EQ(name->deviceId, "hidraw12");
  EXPECT_FALSE(parseServiceName("@hidraw1"));
  EXPECT_FALSE(parseServiceName("class@"));
  EXPECT_FALSE(parseServiceName("no-at-sign"));
  EXPECT_FALSE(parseServiceName("../x@y"));
}

TEST(PresentedMouse, TheMarkFitsUhidKeepsTheSuffixAndEitherHalfIsRecognised) {
  EXPECT_EQ(zv::presented::markedPhys("usb-0000:00:14.0-1/input0"),
            "zenvor-driver/usb-0000:00:14.0-1/input0");
  EXPECT_EQ(zv::presented::markedPhys(std::string(80, 'p')).size(), 63u);
  const std::string name = zv::presented::markedName(std::string(200, 'n'));
  EXPECT_EQ(name.size(), 127u);
  EXPECT_TRUE(name.ends_with(" (zenvor-driver)"));
  EXPECT_TRUE(zv::presented::isPresentedByDriver("zenvor-driver/usb-1/input0", "Mouse"));
  EXPECT_TRUE(zv::presented::isPresentedByDriver("usb-1/input0", "Mouse (zenvor-driver)"));
  EXPECT_FALSE(zv::presented::isPresentedByDriver("aa:bb:cc:dd:ee:ff", "BLE Mouse"))
      << "a mouse BlueZ presents through uhid is a real one";
}

}  // namespace
}  // namespace zv::userclient
