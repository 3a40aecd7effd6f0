#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "DriverTestSupport.h"
#include "core/DebugLog.h"
#include "core/DeviceConfig.h"
#include "core/MouseReport.h"
#include "core/ReportPipeline.h"
#include "core/SampleDescriptors.h"

namespace zv::driver {
namespace {

using namespace std::chrono_literals;
using testing::bytes;
using testing::hex;

TEST(DeviceConfig, TypesAndConfigurations) {
  const struct {
    std::uint16_t product;
    int type;
  } products[] = {{0x1714, 0}, {0x1704, 1}, {0x5263, 2}, {0x5266, 2}, {0x5262, 3},
                  {0x1715, 4}, {0x1710, 5}, {0x1705, 6}, {0x0000, 6}, {0xFFFF, 6}};
  for (const auto& p : products) {
    EXPECT_EQ(GetDeviceTypeFromDevice(p.product), p.type) << std::hex << p.product;
  }
  EXPECT_EQ(GetDeviceConfiguration(kUnknownDeviceType), nullptr);
  EXPECT_EQ(GetDeviceConfiguration(-1), nullptr);

  const ZVDeviceConfig& type0 = *GetDeviceConfiguration(0);
  EXPECT_EQ(type0.overriddenElements[0], 0x90009u);
  EXPECT_EQ(type0.overriddenElements[2], 0x9000Bu);
  EXPECT_EQ(type0.overriddenElements[3], 0u);
  EXPECT_EQ(type0.precisionElement, 0x9000Du);
  EXPECT_EQ(type0.reportLength, 10u);
  EXPECT_EQ(GetDeviceConfiguration(1)->precisionElement, 0x90006u);
  EXPECT_EQ(GetDeviceConfiguration(1)->reportLength, 7u);
  EXPECT_EQ(GetDeviceConfiguration(2)->defaultReportID, 1u);
  EXPECT_EQ(GetDeviceConfiguration(2)->descriptorLength, 248u);
  EXPECT_EQ(GetDeviceConfiguration(3)->descriptorLength, 275u);
  EXPECT_EQ(GetDeviceConfiguration(3)->reportLength, 0u);
  EXPECT_EQ(GetDeviceConfiguration(4)->precisionElement, 0x90008u);
  EXPECT_EQ(GetDeviceConfiguration(5)->defaultReportID, 0xF1u);
  EXPECT_EQ(GetDeviceConfiguration(5)->reportLength, 9u);

  // Spot checks of the replacement descriptors' ends (the parser tests check their content).
  EXPECT_EQ(hex(kReplacementDescriptorType2, 8), "05 01 09 05 A1 01 85 01");
  EXPECT_EQ(hex(kReplacementDescriptorType2 + 241, 7), "75 08 81 02 C0 C0 00");
  EXPECT_EQ(hex(kReplacementDescriptorType3, 8), "05 01 09 05 A1 01 85 01");
  EXPECT_EQ(hex(kReplacementDescriptorType3 + 269, 6), "81 02 C0 C0 00 00");
  EXPECT_EQ(GetDeviceConfiguration(2)->descriptor, kReplacementDescriptorType2);
  EXPECT_EQ(GetDeviceConfiguration(3)->descriptor, kReplacementDescriptorType3);
}

TEST(MouseReport, LayoutsPerDeviceType) {
  EXPECT_FALSE(CreateMouseReportForDevice(0));
  EXPECT_FALSE(CreateMouseReportForDevice(6));
  const struct {
    int type;
    const char* report;
  } cases[] = {
      {1, "01 00 FF FF 02 00"},          {2, "03 01 00 FF FF 02 00 00 00"},
      {3, "03 01 FF 02 00 00 00 00 00"},  // 8-bit X and Y, as its descriptor's report 3
      {4, "F1 01 00 FF FF 02 00 00 00"}, {5, "F1 01 00 FF FF 02 00 00 00"},
  };
  for (const auto& c : cases) {
    auto report = CreateMouseReportForDevice(c.type);
    ASSERT_TRUE(report) << "type " << c.type;
    report->SetValues(-1, 2, 1);
    EXPECT_EQ(hex(report->data(), report->length()), c.report) << "type " << c.type;
  }
  MouseReport narrow(3, 9, MouseReport::FieldWidth::narrow8);
  narrow.SetValues(300, -300, 0x107);
  EXPECT_EQ(hex(narrow.data(), narrow.length()), "03 07 7F 81 00 00 00 00 00") << "saturated";
  EXPECT_EQ(MouseReport(5, 0).length(), 7u);
  EXPECT_EQ(MouseReport(-1, 0).length(), 6u);
  EXPECT_EQ(MouseReport(-1, 1000).length(), MouseReport::kMaxLength);
  MouseReport wide(-1, 6);
  wide.SetValues(-32768, 32767, 0xFFFF8001);
  EXPECT_EQ(hex(wide.data(), wide.length()), "01 80 00 80 FF 7F");
}

std::vector<std::string> gLog;
std::mutex gLogMutex;
void recordLog(const char* text) {
  std::lock_guard<std::mutex> lock(gLogMutex);
  gLog.push_back(text);
}

TEST(MouseReport, LogLinesOnlyWithDebugLogging) {
  setDebugLogSink(&recordLog);
  {
    MouseReport quiet(0xF1, 9);
    quiet.SetValues(1, 2, 3);
  }
  EXPECT_TRUE(gLog.empty());
  setDebugLogging(true);
  MouseReport report(0xF1, 9);
  report.SetValues(-1, 2, 1);
  setDebugLogging(false);
  setDebugLogSink(nullptr);
  EXPECT_EQ(gLog,
            (std::vector<std::string>{"creating mouse report 241 9\n", "setting reportId\n",
                                      "sending sending -1 2 1\n", "241 1 0 255 255 2 0 0 0 \n"}));
  gLog.clear();
}

// Collects synthetic reports as hex (thread-safe: the reporter thread may call it).
struct SinkRecorder {
  void operator()(const std::uint8_t* report, std::size_t length) {
    std::lock_guard<std::mutex> lock(mutex);
    reports.push_back(hex(report, length));
    added.notify_all();
  }
  std::vector<std::string> all() {
    std::lock_guard<std::mutex> lock(mutex);
    return reports;
  }
  // Up to 10 s of real time, a safety net for a reporter that never steps.
  bool waitFor(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex);
    return added.wait_for(lock, std::chrono::seconds(10), [&] { return reports.size() >= count; });
  }
  std::mutex mutex;
  std::condition_variable added;
  std::vector<std::string> reports;
};

TEST(ReportPipeline, DescriptorAndSyntheticReportsPerType) {
  {
    SCOPED_TRACE(
        "0x1704: the device's own descriptor; synthetic reports without ID, padded to its 7 "
        "bytes");
    SinkRecorder sink;
    const auto own = sampleDescriptorForType(1);
    ReportPipeline pipeline(0x1704, own, std::ref(sink), ZVMouseReporter::Mode::manual);
    EXPECT_EQ(pipeline.deviceType(), 1);
    EXPECT_FALSE(pipeline.usesReplacementDescriptor());
    EXPECT_TRUE(std::equal(own.begin(), own.end(), pipeline.systemDescriptor().begin(),
                           pipeline.systemDescriptor().end()));
    ASSERT_NE(pipeline.reportHandler(), nullptr);
    pipeline.reportHandler()->setButtonOverrides(0x4);
    EXPECT_EQ(sink.all(), std::vector<std::string>{"04 00 00 00 00 00 00"});
  }
  {
    SCOPED_TRACE("0x5262: the 275-byte replacement, 9-byte reports starting with 0x03");
    SinkRecorder sink;
    const std::vector<std::uint8_t> own = testing::kBootMouse;  // what the device says
    ReportPipeline pipeline(0x5262, own, std::ref(sink), ZVMouseReporter::Mode::manual);
    EXPECT_TRUE(pipeline.usesReplacementDescriptor());
    EXPECT_EQ(pipeline.systemDescriptor().size(), 275u);
    EXPECT_EQ(pipeline.systemDescriptor().data(), kReplacementDescriptorType3);
    ZVReportHandler& handler = *pipeline.reportHandler();
    handler.setHatElement(0x10039);
    handler.setMouseAxis(0x10039, 1);
    std::vector<std::uint8_t> r = bytes("01 00 00 07 00 00 00 00 00 00 00 00 00 00 00 00");
    EXPECT_TRUE(pipeline.handleReport(r.data(), r.size()));
    EXPECT_EQ(hex(r), "01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
    EXPECT_EQ(sink.all(), std::vector<std::string>{"03 00 F1 00 00 00 00 00 00"});
  }
  {
    SCOPED_TRACE("type 4: dispatch of (-1, 2, 1)");
    SinkRecorder sink;
    ReportPipeline pipeline(0x1715, sampleDescriptorForType(4), std::ref(sink),
                            ZVMouseReporter::Mode::manual);
    pipeline.reportHandler()->dispatchRelativePointerEvent(-1, 2, 1);
    EXPECT_EQ(sink.all(), std::vector<std::string>{"F1 01 00 FF FF 02 00 00 00"});
  }
  {
    SCOPED_TRACE("type 0: a configuration but no mouse report");
    SinkRecorder sink;
    ReportPipeline pipeline(0x1714, sampleDescriptorForType(0), std::ref(sink),
                            ZVMouseReporter::Mode::manual);
    pipeline.reportHandler()->setButtonOverrides(0x1);
    EXPECT_TRUE(sink.all().empty());
    std::vector<std::uint8_t> r =
        bytes("00 11 00 00 00 00 00 00 00 00");  // button 13 (precision), 9
    pipeline.handleReport(r.data(), r.size());
    EXPECT_EQ(hex(r), "01 10 00 00 00 00 00 00 00 00");
  }
}

TEST(ReportPipeline, UnknownProductsAndBrokenDescriptorsPassThrough) {
  SinkRecorder sink;
  {
    ReportPipeline pipeline(0x1234, testing::kBootMouse, std::ref(sink),
                            ZVMouseReporter::Mode::manual);
    EXPECT_EQ(pipeline.deviceType(), kUnknownDeviceType);
    EXPECT_EQ(pipeline.configuration(), nullptr);
    EXPECT_FALSE(pipeline.mouseReport());
    ASSERT_NE(pipeline.reportHandler(), nullptr) << "still models the device's own descriptor";
    std::vector<std::uint8_t> r = bytes("07 05 FB");
    EXPECT_TRUE(pipeline.handleReport(r.data(), r.size()));
    EXPECT_EQ(hex(r), "07 05 FB");
    EXPECT_FALSE(pipeline.handleReport(r.data(), 0)) << "an empty report is not passed on";
  }
  for (const std::vector<std::uint8_t>& broken :
       {std::vector<std::uint8_t>{}, bytes("05 01 09 02 A1 01 26 FF")}) {
    ReportPipeline pipeline(0x1704, broken, std::ref(sink), ZVMouseReporter::Mode::manual);
    EXPECT_EQ(pipeline.reportHandler(), nullptr);
    ASSERT_TRUE(pipeline.descriptorError());
    EXPECT_TRUE(pipeline.mouseReport()) << "the type's mouse report exists regardless";
    std::vector<std::uint8_t> r = bytes("00 01 00 00 00 00 00");
    EXPECT_TRUE(pipeline.handleReport(r.data(), r.size()));
    EXPECT_EQ(hex(r), "00 01 00 00 00 00 00") << "passes unchanged";
  }
  EXPECT_TRUE(sink.all().empty());
}

TEST(ReportPipeline, ThreadedReporterStopsWithThePipeline) {
  SinkRecorder sink;
  {
    ReportPipeline pipeline(0x5263, {}, std::ref(sink));
    ZVReportHandler& handler = *pipeline.reportHandler();
    handler.setHatElement(0x10039);
    handler.setMouseAxis(0x10039, 1);
    std::vector<std::uint8_t> r = bytes("01 00 00 03 00 80 00 80 00 80 00 80 00 00 00 00");
    pipeline.handleReport(r.data(), r.size());
    ASSERT_TRUE(sink.waitFor(3));
  }  // destroyed while stepping
  const auto reports = sink.all();
  ASSERT_GE(reports.size(), 1u);
  EXPECT_EQ(reports[0], "03 00 00 0F 00 00 00 00 00");
}

}  // namespace
}  // namespace zv::driver
