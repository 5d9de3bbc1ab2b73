// The script of the scripted port, as the unit tests write it and read
// back what the host did; see support/scripted_port.h.
#include "support/scripted_port.h"

#include <cstdio>

#include "pclink/packet.h"
#include "pclink/relay.h"
#include "pclink/run_endings.h"
#include "pclink/serial_port.h"
#include "pclink/serial_port_bytes.h"
#include "support/scripted_port_script.h"

namespace scripted_port_script {

Script script;

void queue_bytes(const scripted_port::Bytes& bytes) {
  for (std::uint8_t b : bytes) {
    script.incoming.push_back({Incoming::Kind::byte, b, 0});
  }
}

}  // namespace scripted_port_script

using scripted_port_script::Incoming;
using scripted_port_script::queue_bytes;
using scripted_port_script::Script;
using scripted_port_script::script;

namespace scripted_port {

void reset() {
  reset_link_state();
  reset_relay_state();
  reset_packet_state();
  clear_ending_note();
  script = Script{};
}

void queue_incoming(const Bytes& bytes) {
  queue_bytes(bytes);
}

void queue_damaged(std::uint8_t byte) {
  script.incoming.push_back({Incoming::Kind::byte, byte, 0, true});
}

void queue_timeout() {
  script.incoming.push_back({Incoming::Kind::timeout, 0, 0});
}

void queue_gap(int milliseconds) {
  script.incoming.push_back({Incoming::Kind::gap, 0, milliseconds});
}

void queue_read_failure(int error) {
  script.incoming.push_back({Incoming::Kind::failure, 0, error});
}

void set_paced(bool on) {
  script.paced = on;
}

void set_loopback(bool on) {
  script.loopback = on;
}

void damage_echo(std::size_t index, std::uint8_t flip) {
  script.damaged_echo_index = index;
  script.damaged_echo_flip = flip;
}

void on_silence(std::function<void()> hook) {
  script.silence_hook = std::move(hook);
}

void answer_units(const std::vector<Bytes>& answers) {
  script.answers.assign(answers.begin(), answers.end());
}

void on_write(std::function<void(std::uint8_t)> hook) {
  script.hook = std::move(hook);
}

void refuse_open(bool refuse, platform::OpenFailure why, const char* group) {
  script.refuse_open = refuse;
  script.refusal = platform::OpenResult{};
  script.refusal.failure = why;
  script.refusal.error = why == platform::OpenFailure::other ? 5 : 0;
  std::snprintf(script.refusal.group, sizeof script.refusal.group, "%s", group);
}

void fail_writes(int error) {
  script.write_error = error;
}

const Bytes& written() {
  return script.written;
}

const std::vector<Bytes>& written_units() {
  return script.units;
}

const std::vector<Bytes>& writes() {
  return script.writes;
}

bool is_open() {
  return script.open;
}

const std::string& opened_name() {
  return script.name;
}

platform::LineSettings opened_settings() {
  return script.settings;
}

int open_count() {
  return script.opens;
}

long long elapsed_ms() {
  return script.elapsed_ms;
}

const std::vector<int>& pauses_ms() {
  return script.pauses;
}

int read_count() {
  return script.reads;
}

std::size_t incoming_left() {
  std::size_t bytes = 0;
  for (const Incoming& next : script.incoming) bytes += next.kind == Incoming::Kind::byte;
  return bytes + static_cast<std::size_t>(received_count());
}

Bytes packet_bytes(int number, const Bytes& payload) {
  std::uint8_t n = static_cast<std::uint8_t>(number);
  std::size_t length = payload.size();
  Bytes bytes = {0x01, n, static_cast<std::uint8_t>(~n), static_cast<std::uint8_t>(length & 0xFF),
                 static_cast<std::uint8_t>(length >> 8)};
  unsigned sum = 0;
  for (std::uint8_t b : payload) {
    bytes.push_back(b);
    sum += b;
  }
  bytes.push_back(static_cast<std::uint8_t>(sum & 0xFF));
  bytes.push_back(static_cast<std::uint8_t>((sum >> 8) & 0xFF));
  return bytes;
}

Bytes packet_bytes(int number, std::string_view payload) {
  return packet_bytes(number, bytes_of(payload));
}

Bytes bytes_of(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

}  // namespace scripted_port
