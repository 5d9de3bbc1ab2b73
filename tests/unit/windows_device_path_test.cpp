#include "pclink/platform/windows_device_path.h"

#include <gtest/gtest.h>

namespace {

TEST(WindowsDevicePath, PortsAboveNineNeedTheDeviceNamespace) {
  EXPECT_EQ(platform::windows_device_path("COM10"), "\\\\.\\COM10");
  EXPECT_EQ(platform::windows_device_path("COM256"), "\\\\.\\COM256");
  EXPECT_EQ(platform::windows_device_path("com12"), "\\\\.\\com12");
}

// The old device syntax: the colon would make "COM10:" a file's name.
TEST(WindowsDevicePath, APortNamedWithAColonLosesIt) {
  EXPECT_EQ(platform::windows_device_path("COM10:"), "\\\\.\\COM10");
  EXPECT_EQ(platform::windows_device_path("COM3:"), "COM3");
  EXPECT_EQ(platform::windows_device_path("COM:"), "COM:");
  EXPECT_EQ(platform::windows_device_path("COM1x:"), "COM1x:");
  EXPECT_EQ(platform::windows_device_path("COM10::"), "COM10::");
}

TEST(WindowsDevicePath, ReservedNamesAndOtherNamesAreKept) {
  EXPECT_EQ(platform::windows_device_path("COM1"), "COM1");
  EXPECT_EQ(platform::windows_device_path("COM9"), "COM9");
  EXPECT_EQ(platform::windows_device_path("COM09"), "COM09");
  EXPECT_EQ(platform::windows_device_path("COM"), "COM");
  EXPECT_EQ(platform::windows_device_path("COM1x"), "COM1x");
  EXPECT_EQ(platform::windows_device_path("COMX10"), "COMX10");
  EXPECT_EQ(platform::windows_device_path("\\\\.\\COM10"), "\\\\.\\COM10");
  EXPECT_EQ(platform::windows_device_path("LPT12"), "LPT12");
  EXPECT_EQ(platform::windows_device_path(""), "");
}

TEST(WindowsDevicePath, LongestPortNameFitsWithItsPrefix) {
  std::string name = "COM" + std::string(76, '1');
  EXPECT_EQ(platform::windows_device_path(name.c_str()), "\\\\.\\" + name);
}

}  // namespace
