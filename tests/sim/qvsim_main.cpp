// qvsim: simulated conversations between the programs' host routines and
// the emulated device over a faulty line in virtual time.
//
//   qvsim --case "<conversation> <line> <size> [<fault> [+ <fault>]]"
//       runs one case and prints its verdict, the host's messages, the
//       bytes on the line and the device's trace
//   qvsim --sweep [--sample N] [--doubles N] [--seed S] [--workers N]
//         [--conversations a,b] [--lines x,y] [--noise RATE --size BYTES]
//       every single fault at every byte of every setting (or N of them
//       drawn at random, or N random double faults, or N runs with random
//       noise at RATE per byte of files of BYTES); prints each case that
//       ended silent or hung as "FAIL <verdict> <case> (<why>)" and then
//       the table. Exit 1 when any case ended silent or hung.
//   --loud
//       prints each case that ended loud too, as "LOUD loud <case> (<why>)"
//   --expect FILE, --cases FILE
//       what the run expects (expectations.h): cases that must pass, rows
//       still open, whose silent or hung cases print as OPEN and fail
//       nothing, and the cases that ever failed, run before the sweep
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "sim/expectations.h"
#include "sim/sweep.h"

namespace {

int run_one(const std::string& text) {
  const std::optional<sim::Case> c = sim::parse_case(text);
  if (!c) {
    std::fprintf(stderr, "qvsim: not a case: %s\n", text.c_str());
    return 2;
  }
  const sim::Outcome outcome = sim::run_case(*c, true);
  std::printf("case: %s\n", sim::describe_case(*c).c_str());
  std::printf("verdict: %s%s%s\n", sim::verdict_name(outcome.verdict).c_str(), outcome.why.empty() ? "" : ": ",
              outcome.why.c_str());
  std::printf("virtual time: %.3f s; bytes to the device %ld, to the host %ld\n", outcome.virtual_us / 1e6,
              outcome.sent[0], outcome.sent[1]);
  std::printf("--- host's standard error\n%s\n", outcome.host_errors.c_str());
  std::printf("--- host's standard output\n%s\n", outcome.host_output.c_str());
  std::printf("--- line (H> host to device, <D device to host, echo included; [what arrived])\n%s",
              outcome.line_trace.c_str());
  std::printf("--- device\n%s", outcome.device_trace.c_str());
  return outcome.verdict == sim::Verdict::whole || outcome.verdict == sim::Verdict::loud ? 0 : 1;
}

struct SweepRequest {
  long sample = 0;   // 0: every case
  long doubles = 0;  // random double faults instead
  bool loud = false;  // print the loud cases too
  double noise = 0;  // sample runs with random noise instead
  int size = 0;      // of noisy runs
  unsigned seed = 1;
  int workers = 1;
  long cases_every = 1;  // of the cases that failed once, every n-th is run
  std::vector<sim::Conversation> conversations;
  std::vector<sim::LineKind> lines;
  sim::Expectations expected;
};

template <typename T>
bool parse_list(const std::string& text, const std::vector<T>& all, std::string (*name)(T), std::vector<T>& out) {
  std::istringstream items(text);
  std::string item;
  while (std::getline(items, item, ',')) {
    bool found = false;
    for (T value : all) {
      if (name(value) == item) {
        out.push_back(value);
        found = true;
      }
    }
    if (!found) return false;
  }
  return !out.empty();
}

// A double fault: two faults drawn at random bytes of one setting.
sim::Case random_double(const std::vector<sim::Setting>& settings, std::mt19937_64& random) {
  const sim::Setting& setting = settings[std::uniform_int_distribution<std::size_t>(0, settings.size() - 1)(random)];
  const long count = sim::single_fault_count(setting);
  sim::Case c = sim::single_fault_case(setting, std::uniform_int_distribution<long>(0, count - 1)(random));
  const sim::Case second = sim::single_fault_case(setting, std::uniform_int_distribution<long>(0, count - 1)(random));
  c.faults.push_back(second.faults[0]);
  return c;
}

int sweep(const SweepRequest& request) {
  const auto began = std::chrono::steady_clock::now();
  long failures = 0;
  long open = 0;
  // A silent or hung case fails the run unless it is known and not yet
  // mended: in a row still open, and not one of the cases that must pass.
  auto report = [&](const sim::Case& c, const sim::Outcome& outcome, bool tolerated, bool quietly) {
    if (!tolerated || !quietly) {
      std::printf("%s %s %s (%s)\n", tolerated ? "OPEN" : "FAIL", sim::verdict_name(outcome.verdict).c_str(),
                  sim::describe_case(c).c_str(), outcome.why.c_str());
      std::fflush(stdout);
    }
    ++(tolerated ? open : failures);
  };
  const sim::Expectations& expected = request.expected;
  std::vector<sim::Case> listed = expected.must_pass;
  const std::size_t must_pass = listed.size();
  listed.insert(listed.end(), expected.failed_once.begin(), expected.failed_once.end());
  if (!listed.empty()) {
    sim::Table listed_table;
    sim::run_cases(
        static_cast<long>(listed.size()), [&](long index) { return listed[static_cast<std::size_t>(index)]; },
        request.workers, listed_table, [&](const sim::Case& c, const sim::Outcome& outcome) {
          const bool needed = std::find_if(listed.begin(), listed.begin() + static_cast<long>(must_pass),
                                           [&](const sim::Case& m) { return sim::describe_case(m) == sim::describe_case(c); }) !=
                              listed.begin() + static_cast<long>(must_pass);
          // The cases that failed before are many: only news is printed.
          report(c, outcome, !needed && expected.row_open(c), true);
        });
    std::printf("%zu listed cases: %ld still fail in open rows, %ld fail elsewhere\n", listed.size(), open, failures);
  }
  const std::vector<sim::Setting> settings = sim::clean_settings(request.conversations, request.lines);
  for (const sim::Setting& setting : settings) {
    if (setting.clean.verdict != sim::Verdict::whole) {
      std::printf("FAIL %s %s (%s) on a clean line\n", sim::verdict_name(setting.clean.verdict).c_str(),
                  sim::describe_case(sim::make_case(setting.conversation, setting.line, setting.size)).c_str(),
                  setting.clean.why.c_str());
      ++failures;
    }
  }
  std::vector<long> starts;  // where each setting's cases begin among all
  long count = 0;
  for (const sim::Setting& setting : settings) {
    starts.push_back(count);
    count += sim::single_fault_count(setting);
  }
  auto single = [&](long index) {
    const std::size_t at = static_cast<std::size_t>(std::upper_bound(starts.begin(), starts.end(), index) - starts.begin() - 1);
    return sim::single_fault_case(settings[at], index - starts[at]);
  };
  std::function<sim::Case(long)> cases = single;
  long runs = count;
  if (request.noise > 0) {
    runs = request.sample;
    cases = [&](long index) {
      const sim::Setting& setting = settings[static_cast<std::size_t>(index) % settings.size()];
      sim::Case c = sim::make_case(setting.conversation, setting.line, request.size);
      c.noise = qvemu::NoiseSettings{request.seed + static_cast<std::uint64_t>(index), request.noise};
      return c;
    };
  } else if (request.doubles > 0) {
    runs = request.doubles;
    cases = [&](long index) {
      std::mt19937_64 random(request.seed * 0x9E3779B97F4A7C15ull + static_cast<unsigned long>(index));
      return random_double(settings, random);
    };
  } else if (request.sample > 0 && request.sample < count) {
    runs = request.sample;
    cases = [&](long index) {
      std::mt19937_64 random(request.seed * 0x9E3779B97F4A7C15ull + static_cast<unsigned long>(index));
      return single(std::uniform_int_distribution<long>(0, count - 1)(random));
    };
  }
  std::fprintf(stderr, "qvsim: %ld settings, %ld single-fault cases; running %ld\n", static_cast<long>(settings.size()),
               count, runs);
  sim::Table table;
  sim::run_cases(
      runs, cases, request.workers, table,
      [&](const sim::Case& c, const sim::Outcome& outcome) {
        if (outcome.verdict == sim::Verdict::loud) {
          std::printf("LOUD loud %s (%s)\n", sim::describe_case(c).c_str(), outcome.why.c_str());
          return;
        }
        report(c, outcome, expected.row_open(c), false);
      },
      request.loud);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  std::printf("%s", sim::table_text(table).c_str());
  std::printf("%ld conversations in %.1f s: %.0f a second with %d worker%s\n", runs + static_cast<long>(settings.size()),
              seconds, static_cast<double>(runs + static_cast<long>(settings.size())) / seconds, request.workers,
              request.workers == 1 ? "" : "s");
  if (!listed.empty() || !expected.open_rows.empty()) {
    std::printf("in all, %ld cases failed in rows still open, %ld elsewhere\n", open, failures);
  }
  return failures == 0 ? 0 : 1;
}

int usage() {
  std::fprintf(stderr,
               "usage: qvsim --case \"<conversation> <line> <size> [<fault> [+ <fault>]]\"\n"
               "       qvsim --sweep [--sample N] [--doubles N] [--seed S] [--workers N]\n"
               "                     [--conversations a,b] [--lines x,y] [--noise RATE --size BYTES]\n"
               "                     [--expect FILE] [--cases FILE [--cases-every N]] [--loud]\n");
  return 2;
}

bool parse_count(const char* text, long& value) {
  char* end = nullptr;
  value = std::strtol(text, &end, 10);
  return end != text && *end == '\0' && value >= 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--case") return run_one(argv[2]);
  if (argc < 2 || std::string(argv[1]) != "--sweep") return usage();
  SweepRequest request;
  for (int i = 2; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--loud") {
      request.loud = true;
      continue;
    }
    if (i + 1 >= argc) return usage();
    const char* value = argv[++i];
    long number = 0;
    if (option == "--sample" && parse_count(value, number)) {
      request.sample = number;
    } else if (option == "--doubles" && parse_count(value, number)) {
      request.doubles = number;
    } else if (option == "--expect" || option == "--cases") {
      std::string error;
      if (!(option == "--expect" ? sim::read_expectations(value, request.expected, error)
                                 : sim::read_failed_cases(value, request.expected, error))) {
        std::fprintf(stderr, "qvsim: %s\n", error.c_str());
        return 2;
      }
    } else if (option == "--noise" && qvemu::parse_noise(std::string("0:") + value)) {
      request.noise = qvemu::parse_noise(std::string("0:") + value)->rate;
    } else if (option == "--size" && parse_count(value, number) && number <= 1000000) {
      request.size = static_cast<int>(number);
    } else if (option == "--seed" && parse_count(value, number)) {
      request.seed = static_cast<unsigned>(number);
    } else if (option == "--cases-every" && parse_count(value, number) && number >= 1) {
      request.cases_every = number;
    } else if (option == "--workers" && parse_count(value, number) && number >= 1 && number <= 64) {
      request.workers = static_cast<int>(number);
    } else if (option == "--conversations" &&
               parse_list(value, sim::all_conversations(), &sim::conversation_name, request.conversations)) {
    } else if (option == "--lines" && parse_list(value, sim::all_lines(), &sim::line_name, request.lines)) {
    } else {
      return usage();
    }
  }
  // A build under the sanitizers runs a share of the cases that failed
  // once: all of them take minutes there.
  std::vector<sim::Case>& failed_once = request.expected.failed_once;
  std::vector<sim::Case> kept;
  for (std::size_t i = 0; i < failed_once.size(); i += static_cast<std::size_t>(request.cases_every)) {
    kept.push_back(failed_once[i]);
  }
  failed_once = std::move(kept);
  try {
    return sweep(request);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "qvsim: %s\n", failure.what());
    return 2;
  }
}
