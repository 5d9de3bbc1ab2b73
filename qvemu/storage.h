// The device's storage "S1:", kept in a host folder: device file S1:NAME is
// the host file DIR/NAME. Whatever name the host sends, nothing is ever
// written outside the folder, and a write goes through a temporary file and
// a rename so that an interrupted one never leaves half a file.
#pragma once

#include <optional>
#include <string>

#include "qvemu/packet_codec.h"

namespace qvemu {

// Why a device file name cannot be used in the folder, or nullopt when it
// can: names that are empty, too long, hold a separator, "..", a control
// byte, or begin with "." (the folder's own temporary files) are refused.
std::optional<std::string> unsafe_name_reason(const std::string& name);

class Storage {
 public:
  explicit Storage(std::string folder) : folder_(std::move(folder)) {}

  const std::string& folder() const { return folder_; }

  // The file's bytes, or nullopt when it is not there (or is not a plain file).
  std::optional<Bytes> read(const std::string& name) const;
  // Stores the file whole; false with the reason in error.
  bool write(const std::string& name, const Bytes& content, std::string& error) const;
  // The list text: one line per stored file, name, a space, decimal size, CR LF.
  std::string list_text() const;

 private:
  std::string folder_;
};

// A new empty folder under the system's temporary folder.
std::string make_temporary_folder();

}  // namespace qvemu
