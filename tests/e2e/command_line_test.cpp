// What every program says about itself: --help and --version on standard
// output with exit code 0, and exit code 2 for a command line it rejects.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pclink/version.h"
#include "support/e2e.h"
#include "support/e2e_wine.h"

namespace {

struct Program {
  std::string name;
  std::vector<std::string> options;  // each must start a line of the help
};

const std::vector<std::string> port_options{"-d <port>", "-s0", "-s1", "-s2", "-C"};

std::vector<std::string> with_port_options(std::vector<std::string> own) {
  own.insert(own.end(), port_options.begin(), port_options.end());
  return own;
}

const std::vector<Program> programs{
    {"qvcopy", with_port_options({"-g", "-m<size>", "-v"})},
    {"qvcomlog", with_port_options({"-c<slot>", "-g", "-m<size>", "-v"})},
    {"qvdir", with_port_options({})},
    {"qvrestart", with_port_options({"-r"})},
    {"qvinstall", with_port_options({"-q", "-t", "-D", "-R", "-v"})},
    {"qvunpack", {"-l", "-t"}},
};

bool has_line_starting(const std::string& text, const std::string& start) {
  return text.find("\n" + start) != std::string::npos;
}

TEST(CommandLine, HelpListsEveryOptionTheExitCodesAndAnExample) {
  for (const Program& program : programs) {
    SCOPED_TRACE(program.name);
    // Asked for anywhere on the line, even after a name.
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{{"--help"}, {"a", "--help"}}) {
      RunResult run = run_program(program.name, args);
      EXPECT_EQ(run.exit_code, 0);
      EXPECT_EQ(run.err, "");  // no banner: standard output carries the help alone
      EXPECT_EQ(run.out.rfind(program.name + " ", 0), 0u) << run.out;
      EXPECT_TRUE(has_line_starting(run.out, "usage: " + program.name)) << run.out;
      for (const std::string& option : program.options) {
        EXPECT_TRUE(has_line_starting(run.out, "  " + option + " ")) << option << " missing:\n" << run.out;
      }
      for (const std::string& line : std::vector<std::string>{"  --help ", "  --version ", "Exit codes:\n  0 ", "  2 ", "  130 ",
                                      "Example:\n  " + program.name + " "}) {
        EXPECT_TRUE(has_line_starting(run.out, line)) << line << " missing:\n" << run.out;
      }
      // Exit code 1 is the line's; the offline program has none.
      EXPECT_EQ(has_line_starting(run.out, "  1 "), program.name != "qvunpack") << run.out;
    }
  }
}

TEST(CommandLine, VersionIsTheProgramAndTheSuiteVersion) {
  for (const Program& program : programs) {
    SCOPED_TRACE(program.name);
    RunResult run = run_program(program.name, {"--version"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out, program.name + " " + suite_version + "\n");
    EXPECT_EQ(run.err, "");
  }
}

// "--help > file" on a full disk: the text is the job, and it is not done.
TEST(CommandLine, HelpOrVersionThatStandardOutputCannotTakeIsNotDone) {
  if (wine_mode()) GTEST_SKIP() << "/dev/full is a Linux device";
  RunOptions full;
  full.output_file = "/dev/full";
  for (const Program& program : programs) {
    SCOPED_TRACE(program.name);
    RunResult help = run_program(program.name, {"--help"}, full);
    EXPECT_EQ(help.exit_code, 2);
    EXPECT_EQ(help.err, "standard output cannot be written: the help is not whole there\n");
    RunResult version = run_program(program.name, {"--version"}, full);
    EXPECT_EQ(version.exit_code, 2);
    EXPECT_EQ(version.err, "standard output cannot be written: the version is not whole there\n");
  }
}

TEST(CommandLine, OtherLongOptionsAreRejectedWithExitCode2) {
  for (const Program& program : programs) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--verbose", "a"}, {"a", "--"}, {"a", "--help=all"}, {"-d", "--version2", "a"}}) {
      SCOPED_TRACE(program.name + " " + args[0] + " " + args[1]);
      RunResult run = run_program(program.name, args);
      EXPECT_EQ(run.exit_code, 2);
      EXPECT_NE(run.err.find("usage:"), std::string::npos) << run.err;
      EXPECT_EQ(run.out.find("usage:"), std::string::npos) << run.out;
    }
  }
}

// Named Emulator* so that the Wine stage, which has no Windows emulator, leaves it out.
TEST(EmulatorCommandLine, HelpWithEitherSpelling) {
  for (const char* option : {"-h", "--help"}) {
    RunResult run = run_program("qvemu", {option});
    EXPECT_EQ(run.exit_code, 0) << option;
    EXPECT_EQ(run.out.rfind("usage: qvemu", 0), 0u) << option;
    EXPECT_TRUE(has_line_starting(run.out, "  --relay ")) << option;
  }
}

}  // namespace
