// The sweep's machinery: its workers, its expectations, and what the host's
// run leaves behind. A sweep runs millions of cases in one process or a
// few: a leak, a lost case or a misread expectation would spoil its table.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <unistd.h>

#include "sim/expectations.h"
#include "sim/sweep.h"

namespace {

int open_descriptors() {
  int count = 0;
  if (DIR* folder = opendir("/proc/self/fd")) {
    while (readdir(folder) != nullptr) ++count;
    closedir(folder);
  }
  return count;
}

std::string write_temporary(const std::string& text) {
  char path[] = "/tmp/qvsim-test-XXXXXX";
  const int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  if (fd >= 0) {
    EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fd);
  }
  return path;
}

TEST(SweepWorkers, ForkedWorkersCountEveryCaseAsOneProcessDoes) {
  const std::vector<sim::Setting> settings =
      sim::clean_settings({sim::Conversation::send, sim::Conversation::list}, {sim::LineKind::cable_echo});
  std::vector<sim::Case> cases;
  for (const sim::Setting& setting : settings) {
    for (long index = 0; index < sim::single_fault_count(setting); index += 97) {
      cases.push_back(sim::single_fault_case(setting, index));
    }
  }
  auto nth = [&](long index) { return cases[static_cast<std::size_t>(index)]; };
  sim::Table alone, forked;
  std::vector<std::string> failed_alone, failed_forked;
  sim::run_cases(static_cast<long>(cases.size()), nth, 1, alone,
                 [&](const sim::Case& c, const sim::Outcome&) { failed_alone.push_back(sim::describe_case(c)); });
  sim::run_cases(static_cast<long>(cases.size()), nth, 3, forked,
                 [&](const sim::Case& c, const sim::Outcome&) { failed_forked.push_back(sim::describe_case(c)); });
  std::sort(failed_forked.begin(), failed_forked.end());
  std::sort(failed_alone.begin(), failed_alone.end());
  EXPECT_EQ(sim::table_text(forked), sim::table_text(alone));
  EXPECT_EQ(failed_forked, failed_alone);
  long counted = 0;
  for (const auto& [row, tally] : forked) counted += tally.total();
  EXPECT_EQ(counted, static_cast<long>(cases.size()));
}

TEST(HostRuns, ARunCutOffInMidTransferLeavesNoFileOpen) {
  // The device's answer to the first data Packet stalls 12 s: the installer
  // ends with TimeOut while the package list and the member file are open.
  std::optional<sim::Case> c = sim::parse_case("package cable 600 to-host 43 pause:12000");
  ASSERT_TRUE(c.has_value());
  sim::run_case(*c);  // the workspace and its capture files exist from here on
  const int before = open_descriptors();
  for (int run = 0; run < 20; ++run) {
    const sim::Outcome outcome = sim::run_case(*c);
    ASSERT_EQ(outcome.verdict, sim::Verdict::loud) << outcome.why;
    ASSERT_EQ(outcome.exit_code, 1);
  }
  EXPECT_EQ(open_descriptors(), before);
}

TEST(Expectations, OpenRowsAndCasesThatMustPassAreReadAndAnythingElseRefused) {
  sim::Expectations expected;
  std::string error;
  const std::string good = write_temporary(
      "# comment\n\ncase send cable 254 to-device 34 flip:0 + to-host 14 insert:15\nopen fetch relay-echo\n");
  ASSERT_TRUE(sim::read_expectations(good, expected, error)) << error;
  ASSERT_EQ(expected.must_pass.size(), 1u);
  EXPECT_EQ(expected.must_pass[0].faults.size(), 2u);
  EXPECT_TRUE(expected.row_open(sim::make_case(sim::Conversation::fetch, sim::LineKind::relay_echo, 600)));
  EXPECT_FALSE(expected.row_open(sim::make_case(sim::Conversation::fetch, sim::LineKind::relay, 600)));
  EXPECT_FALSE(expected.row_open(sim::make_case(sim::Conversation::list, sim::LineKind::relay_echo, 600)));
  std::remove(good.c_str());

  for (const char* line : {"open fetch", "open fetch relay-echo to-host 3 drop", "case send cable", "known send cable 1",
                           "send cable 1 to-host 3 drop"}) {
    sim::Expectations refused;
    const std::string bad = write_temporary(std::string(line) + "\n");
    EXPECT_FALSE(sim::read_expectations(bad, refused, error)) << line;
    EXPECT_NE(error.find(":1: not understood"), std::string::npos) << error;
    std::remove(bad.c_str());
  }
  EXPECT_FALSE(sim::read_failed_cases("/nonexistent/failed_cases.txt", expected, error));
}

TEST(Expectations, TheCommittedListsReadWholeAndEveryListedCaseIsInAnOpenRowOrMustPass) {
  sim::Expectations expected;
  std::string error;
  ASSERT_TRUE(sim::read_expectations(QV_SIM_DIR "/sweep_expectations.txt", expected, error)) << error;
  ASSERT_TRUE(sim::read_failed_cases(QV_SIM_DIR "/failed_cases.txt", expected, error)) << error;
  EXPECT_FALSE(expected.failed_once.empty());
  for (const sim::Case& c : expected.must_pass) {
    EXPECT_TRUE(sim::parse_case(sim::describe_case(c)).has_value());
  }
}

TEST(CaseLines, NoiseIsWrittenBeforeTheFaultsAndReadBack) {
  const std::optional<sim::Case> c = sim::parse_case("send cable-echo 30000 noise:7:0.003 + to-host 3 drop");
  EXPECT_FALSE(c.has_value());  // "+" joins faults only
  const std::optional<sim::Case> noisy = sim::parse_case("send cable-echo 30000 noise:7:0.003 to-host 3 drop");
  ASSERT_TRUE(noisy.has_value());
  ASSERT_TRUE(noisy->noise.has_value());
  EXPECT_EQ(noisy->noise->seed, 7u);
  EXPECT_EQ(sim::describe_case(*noisy), "send cable-echo 30000 noise:7:0.003 to-host 3 drop");
  EXPECT_FALSE(sim::parse_case("send cable 1 noise:7:0.5").has_value());  // above the largest rate
}

}  // namespace
