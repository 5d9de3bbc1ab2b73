// The name of a port as Windows opens it. Portable, so that it can be
// tested on any host.
#pragma once

#include <string>

namespace platform {

// The name CreateFileA needs for a port name on Windows: "COM10" and above
// become "\\.\COM10", "COM3:" and "COM10:" lose their colon; every other
// name is used as given.
std::string windows_device_path(const char* name);

}  // namespace platform
