// Makes the message tables of the documentation (docs/messages.md, between
// its two markers) and of the manual pages (man/<section>.roff) from the
// message catalogue and the meanings in docs/message_meanings.txt, or checks
// that the files as they are hold what it would make.
//
//   message_tables --check <source dir>    exit 1 when a file differs or a message has no meaning
//   message_tables --write <source dir>    rewrite the files that differ
#include <cstdio>
#include <exception>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "pclink/messages.h"
#include "tools/message_tables/meanings_file.h"
#include "tools/message_tables/table_rendering.h"

namespace {

constexpr char meanings_path[] = "docs/message_meanings.txt";
constexpr char messages_page[] = "docs/messages.md";
constexpr char begin_marker[] =
    "<!-- message tables: made by tools/regenerate_message_tables.sh from pclink/messages.h and "
    "docs/message_meanings.txt -->\n";
constexpr char end_marker[] = "<!-- end of the message tables -->\n";

struct MadeFile {
  std::string path;  // relative to the source folder
  std::string contents;
};

bool read_whole(const std::string& path, std::string& contents) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream whole;
  whole << file.rdbuf();
  contents = whole.str();
  return true;
}

// The page with what lies between its markers replaced by the tables.
bool spliced_page(const std::string& page, const std::string& tables, std::string& made, std::string& error) {
  const std::size_t begin = page.find(begin_marker);
  const std::size_t end = page.find(end_marker);
  if (begin == std::string::npos || end == std::string::npos || end < begin) {
    error = std::string(messages_page) + ": the markers of the message tables are missing";
    return false;
  }
  const std::size_t inside = begin + std::string(begin_marker).size();
  made = page.substr(0, inside) + "\n" + tables + page.substr(end);
  return true;
}

bool make_files(const std::string& root, std::vector<MadeFile>& files, std::string& error) {
  std::string text;
  if (!read_whole(root + "/" + meanings_path, text)) {
    error = std::string(meanings_path) + ": cannot be read";
    return false;
  }
  std::vector<MeaningSection> sections;
  if (!parse_meanings(text, sections, error)) {
    error = std::string(meanings_path) + ": " + error;
    return false;
  }
  const std::vector<std::string> faults = coverage_faults(sections, message_catalogue);
  if (!faults.empty()) {
    for (const std::string& fault : faults) error += std::string(meanings_path) + ": " + fault + "\n";
    error.pop_back();
    return false;
  }
  std::string page;
  if (!read_whole(root + "/" + messages_page, page)) {
    error = std::string(messages_page) + ": cannot be read";
    return false;
  }
  std::string made;
  if (!spliced_page(page, markdown_tables(sections, message_catalogue), made, error)) return false;
  files.push_back({messages_page, made});
  for (const MeaningSection& section : sections) {
    if (section.manual != ManualForm::none) {
      files.push_back({"man/" + section.name + ".roff", roff_fragment(section, message_catalogue)});
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc == 3 ? argv[1] : "";
  if (mode != "--check" && mode != "--write") {
    std::fputs("usage: message_tables --check|--write <source dir>\n", stderr);
    return 2;
  }
  const std::string root = argv[2];
  std::vector<MadeFile> files;
  std::string error;
  try {
    if (!make_files(root, files, error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "message_tables: %s\n", failure.what());
    return 1;
  }
  int differing = 0;
  for (const MadeFile& file : files) {
    std::string now;
    if (read_whole(root + "/" + file.path, now) && now == file.contents) continue;
    ++differing;
    if (mode == "--check") {
      std::fprintf(stderr, "%s differs from what the catalogue and %s make\n", file.path.c_str(), meanings_path);
    } else if (std::ofstream(root + "/" + file.path, std::ios::binary) << file.contents) {
      std::printf("%s written\n", file.path.c_str());
    } else {
      std::fprintf(stderr, "%s cannot be written\n", file.path.c_str());
      return 1;
    }
  }
  if (mode == "--check" && differing > 0) {
    std::fputs("run tools/regenerate_message_tables.sh, and commit what it writes\n", stderr);
    return 1;
  }
  return 0;
}
