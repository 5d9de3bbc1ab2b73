// The OnTerminal fixture: see support/on_terminal.h.
#include "support/on_terminal.h"

#include <utility>

#include "support/e2e_wine.h"

void OnTerminal::SetUp() {
  // Under Wine a pseudo-terminal is a Windows console that adds cursor
  // sequences and line ends of its own around the text; WindowsConsole
  // checks the text that reaches it there.
  if (wine_mode()) GTEST_SKIP() << "Wine's console reshapes the bytes";
  host = make_temp_dir();
}

void OnTerminal::TearDown() {
  if (emulator.pid > 0) trace = stop_emulator(emulator);
}

RunResult OnTerminal::run(const std::string& program, std::vector<std::string> args,
                          std::vector<std::string> emulator_args) {
  emulator = start_emulator(std::move(emulator_args));
  RunResult result = run_device_program_on_terminal(emulator, program, std::move(args), in_locale("ja_JP.UTF-8", host));
  trace = stop_emulator(emulator);
  return result;
}
