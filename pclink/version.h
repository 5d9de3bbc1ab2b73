// The suite's version, set once by the build (project() in the top
// CMakeLists.txt) and shared by every program's --version and banner.
#pragma once

extern const char suite_version[];  // such as "1.42"
