// The programs under test as Windows builds, run under Wine.
//
// When the environment names a folder of .exe files in QV_E2E_WINE_BIN, the
// end-to-end tests run those through the Wine loader ($WINELOADER) instead of
// the Linux programs. A Windows program reaches the emulator through COM2
// (or the port QV_E2E_WINE_PORT names), which the Wine prefix maps to the
// fixed path QV_E2E_WINE_PORT_LINK; tests/wine/run.sh prepares the prefix,
// the mappings and the Wine server.
#pragma once

#include <string>
#include <vector>

bool wine_mode();

// The loader, the program's .exe and the arguments.
std::vector<std::string> wine_command(const std::string& program, const std::vector<std::string>& args);

// Points the port's link at the pseudo-terminal and returns the port's name
// ("COM2" unless QV_E2E_WINE_PORT says otherwise). A port that
// is not there is passed on as it is: a Windows program cannot open that
// path either, just as the Linux program cannot.
std::string wine_port_name(const std::string& pty_path);
