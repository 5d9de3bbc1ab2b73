// The extraction loop of qvunpack.
//
// Principles of operation: the archive is read once, strictly in order: the
// directory block, then one member block per directory entry. Each member
// is decoded whole into a buffer of twice its declared size, compared with
// that size, and only then written as a host file in the current directory.
// Every member that cannot be listed or written is reported, and the run
// then counts as not done.
#pragma once

struct UnpackOptions {
  const char* archive;  // null when the command line gave none or was rejected
  bool list_only;       // -l and -t: decode and compare, write nothing
  bool terse;           // -t: no banner, listing lines carry the name alone
};

enum class ExtractResult {
  done,        // every member was listed or written
  not_opened,  // the archive could not be opened
  incomplete,  // a structure error, a size mismatch, no memory, a refused name, or a file not created
};

// The size of the directory area: the 6 leading bytes and 512 entries.
constexpr int directory_area_size = 10248;

// Lists, and unless list_only writes, the members of options.archive ("-"
// is standard input, which every program built for Windows switches to
// untranslated bytes before main).
ExtractResult extract_archive(const UnpackOptions& options);
