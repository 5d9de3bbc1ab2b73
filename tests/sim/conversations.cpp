#include "sim/conversations.h"

#include <cstdio>
#include <sstream>

#include "sim/conversation_runs.h"

namespace sim {

namespace {

struct Named {
  Conversation conversation;
  const char* name;
};

constexpr Named conversation_names[] = {
    {Conversation::send, "send"},         {Conversation::send_verified, "send-v"},
    {Conversation::fetch, "fetch"},       {Conversation::fetch_verified, "fetch-v"},
    {Conversation::list, "list"},         {Conversation::log_send, "log-send"},
    {Conversation::log_fetch, "log-fetch"}, {Conversation::package, "package"},
    {Conversation::program, "program"},   {Conversation::reset, "reset"},
};

constexpr const char* line_names[] = {"cable-echo", "cable", "relay-echo", "relay"};

}  // namespace

const std::vector<Conversation>& all_conversations() {
  static const std::vector<Conversation> all = [] {
    std::vector<Conversation> list;
    for (const Named& named : conversation_names) list.push_back(named.conversation);
    return list;
  }();
  return all;
}

const std::vector<LineKind>& all_lines() {
  static const std::vector<LineKind> all = {LineKind::cable_echo, LineKind::cable, LineKind::relay_echo,
                                            LineKind::relay};
  return all;
}

const std::vector<int>& sizes_of(Conversation conversation) {
  // 253 file bytes fill a write Packet, so 253 and 254 are the edges of one.
  static const std::vector<int> file_sizes = {0, 1, 253, 254, 600};
  static const std::vector<int> no_file = {0};
  return conversation == Conversation::reset ? no_file : file_sizes;
}

std::string conversation_name(Conversation conversation) {
  for (const Named& named : conversation_names) {
    if (named.conversation == conversation) return named.name;
  }
  return "?";
}

std::string line_name(LineKind line) {
  return line_names[static_cast<int>(line)];
}

std::string verdict_name(Verdict verdict) {
  switch (verdict) {
    case Verdict::whole: return "whole";
    case Verdict::loud: return "loud";
    case Verdict::silent: return "silent";
    case Verdict::hang: return "hang";
  }
  return "?";
}

Case make_case(Conversation conversation, LineKind line, int size, std::vector<Fault> faults) {
  Case c;
  c.conversation = conversation;
  c.line = line;
  c.size = size;
  c.faults = std::move(faults);
  return c;
}

std::string describe_case(const Case& c) {
  std::string text = conversation_name(c.conversation) + " " + line_name(c.line) + " " + std::to_string(c.size);
  if (c.noise) {
    char noise[64];
    std::snprintf(noise, sizeof noise, " noise:%llu:%g", static_cast<unsigned long long>(c.noise->seed), c.noise->rate);
    text += noise;
  }
  for (std::size_t i = 0; i < c.faults.size(); ++i) text += (i == 0 ? " " : " + ") + describe_fault(c.faults[i]);
  return text;
}

std::optional<Case> parse_case(const std::string& text) {
  std::istringstream words(text);
  std::string conversation, line, size;
  if (!(words >> conversation >> line >> size)) return std::nullopt;
  Case c;
  bool known = false;
  for (const Named& named : conversation_names) {
    if (conversation == named.name) {
      c.conversation = named.conversation;
      known = true;
    }
  }
  if (!known) return std::nullopt;
  known = false;
  for (LineKind kind : all_lines()) {
    if (line == line_name(kind)) {
      c.line = kind;
      known = true;
    }
  }
  if (!known || size.empty() || size.size() > 7 || size.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  c.size = std::stoi(size);
  std::string rest;
  std::getline(words, rest);
  const std::size_t noise_at = rest.find("noise:");
  if (noise_at != std::string::npos && rest.find_first_not_of(' ') == noise_at) {
    const std::size_t end = rest.find(' ', noise_at);
    c.noise = qvemu::parse_noise(rest.substr(noise_at + 6, end == std::string::npos ? end : end - noise_at - 6));
    if (!c.noise) return std::nullopt;
    rest = end == std::string::npos ? "" : rest.substr(end);
  }
  if (rest.find_first_not_of(' ') == std::string::npos) return c;
  // Faults are joined by "+": each part between them must be one.
  for (std::size_t begin = 0;;) {
    const std::size_t plus = rest.find('+', begin);
    std::optional<Fault> fault = parse_fault(rest.substr(begin, plus == std::string::npos ? plus : plus - begin));
    if (!fault) return std::nullopt;
    c.faults.push_back(*fault);
    if (plus == std::string::npos) return c;
    begin = plus + 1;
  }
}

}  // namespace sim
