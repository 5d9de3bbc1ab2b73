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

// ":がオープンできません" (cannot be opened)
constexpr char cannot_open_list[] =
    "\x3a\x82\xaa\x83\x49\x81\x5b\x83\x76\x83\x93\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1";
// ":フォーマットエラー" (format error)
constexpr char format_error[] = "\x3a\x83\x74\x83\x48\x81\x5b\x83\x7d\x83\x62\x83\x67\x83\x47\x83\x89\x81\x5b";
// "タイトル " (title)
constexpr char title_label[] = "\x83\x5e\x83\x43\x83\x67\x83\x8b\x20";
// "送信完了" (sending complete)
constexpr char sending_complete[] = "\x91\x97\x90\x4d\x8a\xae\x97\xb9";
// " Zaurus本体を再起動します" (restarting the Zaurus unit)
constexpr char restarting[] =
    "\x20\x5a\x61\x75\x72\x75\x73\x96\x7b\x91\xcc\x82\xf0\x8d\xc4\x8b\x4e\x93\xae\x82\xb5\x82\xdc\x82\xb7";

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
  print_line(title_label, header_line + list_header_length);
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
    print_host_line(list_name, cannot_open_list);
    return exit_not_done;
  }
  char line[text_line_buffer_size];
  if (!read_list_header(list, line)) {
    print_host_line(list_name, format_error);
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
  print_line(sending_complete, restarting);
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
  print_line(sending_complete, "");
  int reset = finish_install();
  return installed && reset ? exit_done : exit_not_done;
}
