// The host's code reaches malloc, free, fopen and fclose through the
// linker's --wrap (see CMakeLists.txt), which sends its calls here.
#include "sim/host_process.h"

#include <cstdio>
#include <cstdlib>
#include <unordered_set>

extern "C" {
void* __real_malloc(std::size_t size);
void __real_free(void* block);
std::FILE* __real_fopen(const char* path, const char* mode);
int __real_fclose(std::FILE* stream);
}

namespace {

bool noting = false;
std::unordered_set<void*> blocks;
std::unordered_set<std::FILE*> files;

}  // namespace

extern "C" {

void* __wrap_malloc(std::size_t size) {
  void* block = __real_malloc(size);
  if (noting && block != nullptr) blocks.insert(block);
  return block;
}

void __wrap_free(void* block) {
  blocks.erase(block);
  __real_free(block);
}

std::FILE* __wrap_fopen(const char* path, const char* mode) {
  std::FILE* stream = __real_fopen(path, mode);
  if (noting && stream != nullptr) files.insert(stream);
  return stream;
}

int __wrap_fclose(std::FILE* stream) {
  files.erase(stream);
  return __real_fclose(stream);
}

}  // extern "C"

namespace sim {

void begin_host_resources() {
  noting = true;
}

void end_host_resources() {
  noting = false;
  for (void* block : blocks) __real_free(block);
  blocks.clear();
  for (std::FILE* stream : files) __real_fclose(stream);
  files.clear();
}

}  // namespace sim
