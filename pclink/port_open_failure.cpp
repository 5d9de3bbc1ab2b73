#include "pclink/port_open_failure.h"

#include "pclink/console.h"

// A port name is a host name, in the user's own character set.
void explain_open_failure(const char* port_name, const platform::OpenResult& result) {
  const MessageValue port = host_value(port_name);
  switch (result.failure) {
    case platform::OpenFailure::none:
      return;
    case platform::OpenFailure::no_such_port:
      if (result.device_meant[0] != '\0') {
        print_message(msg("port_missing_meant"), {port, result.device_meant});
      } else if (result.device_nearby[0] != '\0') {
        print_message(msg("port_missing_nearby"), {port, result.device_nearby});
      } else {
        print_message(msg("port_missing"), {port});
      }
      return;
    case platform::OpenFailure::busy:
      print_message(msg("port_busy"), {port});
      return;
    case platform::OpenFailure::not_a_port:
      print_message(msg("port_not_serial"), {port});
      return;
    case platform::OpenFailure::no_permission:
      if (result.group[0] == '\0') {
        print_message(msg("port_no_permission"), {port});
      } else {
        print_message(msg("port_no_permission_group"), {port, result.group});
      }
      return;
    case platform::OpenFailure::other:
      print_message(msg("port_open_failed"), {port, result.error});
      return;
  }
}
