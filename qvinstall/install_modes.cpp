#include "qvinstall/install_modes.h"

#include <string>
#include <vector>

#include "pclink/console.h"
#include "pclink/device_names.h"
#include "pclink/local_files.h"
#include "pclink/serial_port.h"
#include "qvinstall/addin_conversation.h"
#include "qvinstall/settings.h"

namespace {

constexpr char list_header[] = "ZRS,P,";
constexpr int list_header_length = 6;
constexpr int description_lines = 5;
constexpr char end_of_text = 0x1A;

// Reads the first line into line; false unless it begins with the header.
bool read_list_header(FileRef& list, char* line) {
  return read_text_line(list, line) >= 0 && has_prefix(list_header, line) == 0;
}

void show_title(const char* header_line) {
  print_line("", "");
  print_message(msg("package_title"), {header_line + list_header_length});
}

// Every further line of the list is a file to send, except the lines that
// begin with the end-of-text byte; an empty line is a name that cannot be
// opened. They are read whole before the port opens, so that every name is
// checked before anything reaches the device, and a list on standard
// input, which cannot be read twice, is had in full.
std::vector<std::string> read_listed_files(FileRef& list, char* line) {
  std::vector<std::string> names;
  while (read_text_line(list, line) >= 0) {
    if (line[0] != end_of_text) names.emplace_back(line);
  }
  return names;
}

// Whether the device can store every listed name; each one it cannot is
// told.
bool device_takes_every_name(const std::vector<std::string>& names) {
  bool all_taken = true;
  for (const std::string& name : names) {
    std::string device_name;
    if (!device_name_from_user_name(name.c_str(), device_name)) all_taken = false;
  }
  return all_taken;
}

// Returns whether every file was installed.
bool send_listed_files(const std::vector<std::string>& names) {
  bool all_installed = true;
  for (const std::string& name : names) {
    if (!send_addin_file(name.c_str())) {
      all_installed = false;
    }
  }
  return all_installed;
}

}  // namespace

void show_description(const char* name) {
  FileRef description;
  if (name != nullptr && open_input(description, name)) {
    char line[text_line_buffer_size];
    for (int shown = 0; shown < description_lines && read_text_line(description, line) >= 0; ++shown) {
      print_line(line, "");
    }
    close_file(description);
  }
  print_line("--", "");
}

int install_package(const char* list_name) {
  FileRef list;
  if (!open_input(list, list_name)) {
    print_message(msg("cannot_open"), {host_value(list_name)});
    return exit_not_done;
  }
  char line[text_line_buffer_size];
  if (!read_list_header(list, line)) {
    print_message(msg("list_format_error"), {host_value(list_name)});
    close_file(list);
    return exit_not_done;
  }
  show_title(line);
  // The second line names the description; it is consumed under -D too.
  bool has_description = read_text_line(list, line) >= 0;
  if (install_settings.show_desc) {
    show_description(has_description ? line : nullptr);
  }
  const std::vector<std::string> names = read_listed_files(list, line);
  close_file(list);
  if (!device_takes_every_name(names)) {
    return exit_not_done;
  }
  open_port(install_settings.link_mode);
  if (!connect_addin()) {
    return exit_not_done;
  }
  bool all_installed = send_listed_files(names);
  // Printed even when a file failed: the device is reset all the same.
  print_message(msg("sending_complete_restart"));
  int reset = finish_install();
  return all_installed && reset ? exit_done : exit_not_done;
}

int install_program(char* name) {
  // Refused before the port opens, so that nothing of it reaches the device.
  std::string device_name;
  if (!device_name_from_user_name(name, device_name) || !name_fits_request(device_name.c_str())) {
    return exit_not_done;
  }
  open_port(install_settings.link_mode);
  if (!connect_addin()) {
    return exit_not_done;
  }
  int installed = send_addin_file(name);
  print_message(msg("sending_complete"));
  int reset = finish_install();
  return installed && reset ? exit_done : exit_not_done;
}
