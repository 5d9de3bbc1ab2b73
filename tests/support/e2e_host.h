// A tiny host driven by a test, byte by byte, for checking the emulator
// itself: it opens the emulator's port and sends and reads raw bytes with
// bounded waits.
#pragma once

#include <string>

class ScriptedHost {
 public:
  // line_echoes: the emulator hands every sent byte back (its default).
  explicit ScriptedHost(const std::string& port, bool line_echoes = true);
  ~ScriptedHost();
  ScriptedHost(const ScriptedHost&) = delete;
  ScriptedHost& operator=(const ScriptedHost&) = delete;

  bool opened() const { return fd_ >= 0; }
  void send(const std::string& bytes);
  // Exactly count bytes, or fewer when timeout_ms passed first.
  std::string receive(std::size_t count, int timeout_ms = 5000);
  // send, then take the echo of those bytes off the line when the line
  // echoes; returns the echo (empty on a line without echo).
  std::string transmit(const std::string& bytes);
  void close_port();

 private:
  int fd_ = -1;
  bool line_echoes_;
};

// A Packet as the host puts it on the line: SOH, number, complement,
// length, payload and the byte sum of the payload, both little-endian.
std::string packet(int number, const std::string& payload);
