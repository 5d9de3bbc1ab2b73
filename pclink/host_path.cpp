#include "pclink/host_path.h"

#include "pclink/platform/files.h"

const char* host_base_name(const char* path) {
  return platform::path_base_name(path);
}
