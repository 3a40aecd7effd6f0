// The file-watch subscription bits and the notifications they produce. One change may
// stand for several notifications; they are always delivered in the order of
// kVDKQueueNotificationOrder.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace zv::platform {

inline constexpr std::uint32_t VDKQueueNotifyAboutDelete = 0x01;
inline constexpr std::uint32_t VDKQueueNotifyAboutWrite = 0x02;
inline constexpr std::uint32_t VDKQueueNotifyAboutSizeIncrease = 0x04;
inline constexpr std::uint32_t VDKQueueNotifyAboutAttributeChange = 0x08;
inline constexpr std::uint32_t VDKQueueNotifyAboutLinkCountChanged = 0x10;
inline constexpr std::uint32_t VDKQueueNotifyAboutRename = 0x20;
inline constexpr std::uint32_t VDKQueueNotifyAboutAccessRevocation = 0x40;
inline constexpr std::uint32_t VDKQueueNotifyDefault = 0x7F;

inline constexpr std::string_view VDKQueueRenameNotification = "VDKQueueFileRenamedNotification";
inline constexpr std::string_view VDKQueueWriteNotification = "VDKQueueFileWrittenToNotification";
inline constexpr std::string_view VDKQueueDeleteNotification = "VDKQueueFileDeletedNotification";
inline constexpr std::string_view VDKQueueAttributeChangeNotification =
    "VDKQueueFileAttributesChangedNotification";
inline constexpr std::string_view VDKQueueSizeIncreaseNotification =
    "VDKQueueFileSizeIncreasedNotification";
inline constexpr std::string_view VDKQueueLinkCountChangeNotification =
    "VDKQueueLinkCountChangedNotification";
inline constexpr std::string_view VDKQueueAccessRevocationNotification =
    "VDKQueueAccessWasRevokedNotification";

struct VDKQueueNotificationKind {
  std::uint32_t bit;
  std::string_view name;
};

inline constexpr std::array<VDKQueueNotificationKind, 7> kVDKQueueNotificationOrder = {{
    {VDKQueueNotifyAboutRename, VDKQueueRenameNotification},
    {VDKQueueNotifyAboutWrite, VDKQueueWriteNotification},
    {VDKQueueNotifyAboutDelete, VDKQueueDeleteNotification},
    {VDKQueueNotifyAboutAttributeChange, VDKQueueAttributeChangeNotification},
    {VDKQueueNotifyAboutSizeIncrease, VDKQueueSizeIncreaseNotification},
    {VDKQueueNotifyAboutLinkCountChanged, VDKQueueLinkCountChangeNotification},
    {VDKQueueNotifyAboutAccessRevocation, VDKQueueAccessRevocationNotification},
}};

// The notification names for a set of bits, in delivery order.
inline std::vector<std::string_view> VDKQueueNotificationsForBits(std::uint32_t bits) {
  std::vector<std::string_view> names;
  for (const auto& kind : kVDKQueueNotificationOrder) {
    if (bits & kind.bit) names.push_back(kind.name);
  }
  return names;
}

}  // namespace zv::platform
