#include "qvemu/trace.h"

namespace qvemu {

Trace::Trace(const std::string& path) : path_(path) {
  if (!path.empty()) file_ = std::fopen(path.c_str(), "w");
}

Trace::Trace(InMemory) : in_memory_(true) {}

Trace::~Trace() {
  if (file_) std::fclose(file_);
}

void Trace::host_unit(const Bytes& raw, const std::string& decoded) {
  write_line("H " + hex_bytes(raw) + " | " + decoded);
}

void Trace::device_unit(const Bytes& raw, const std::string& decoded) {
  write_line("D " + hex_bytes(raw) + " | " + decoded);
}

void Trace::host_block(const Bytes& raw, const std::string& decoded) {
  write_line("h " + hex_bytes(raw) + " | " + decoded);
}

void Trace::device_block(const Bytes& raw, const std::string& decoded) {
  write_line("d " + hex_bytes(raw) + " | " + decoded);
}

void Trace::violation(const std::string& text) {
  write_line("! " + text);
  if (in_memory_) return;
  std::fprintf(stderr, "qvemu: ! %s\n", text.c_str());
  std::fflush(stderr);
}

void Trace::event(const std::string& text) {
  write_line("= " + text);
}

void Trace::write_line(const std::string& line) {
  if (in_memory_) {
    memory_ += line;
    memory_ += '\n';
    return;
  }
  if (!file_) return;
  std::fputs(line.c_str(), file_);
  std::fputc('\n', file_);
  // Flushed line by line: a crash or a kill must not lose what was seen.
  std::fflush(file_);
}

}  // namespace qvemu
