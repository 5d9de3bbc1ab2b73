// One case of the line simulator, run with everything recorded (the host's
// messages, the line, the device's trace), for tests that look into a run.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "sim/conversations.h"

// The case in qvsim's words ("send cable-echo 600 to-device 100 flip:1");
// one that does not parse fails the test and comes back as an empty outcome.
inline sim::Outcome run_recorded(const std::string& text) {
  const std::optional<sim::Case> c = sim::parse_case(text);
  EXPECT_TRUE(c.has_value()) << text;
  return c ? sim::run_case(*c, true) : sim::Outcome{};
}
