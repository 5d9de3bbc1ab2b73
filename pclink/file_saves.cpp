// Host files saved, plainly or whole through a temporary file beside the
// target.
#include "pclink/file_saves.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pclink/host_path.h"
#include "pclink/platform/files.h"
#include "pclink/platform/process.h"

namespace {

struct SaveOutcome {
  bool created;
  int accepted;    // bytes the stream took
  bool completed;  // flushed to the file and closed
};

SaveOutcome write_new_file(const char* name, const std::uint8_t* data, int count, const char* mode = "wb") {
  std::FILE* stream = std::fopen(name, mode);
  if (stream == nullptr) return {false, 0, false};
  std::size_t wanted = count > 0 ? static_cast<std::size_t>(count) : 0;
  int accepted = wanted > 0 ? static_cast<int>(std::fwrite(data, 1, wanted, stream)) : 0;
  // The stream may hold back the last bytes until it is flushed; a disk that
  // fills up then fails only here, and the file is cut short.
  bool flushed = std::fflush(stream) == 0;
  bool closed = std::fclose(stream) == 0;
  return {true, accepted, flushed && closed};
}

}  // namespace

int save_file(const char* name, const std::uint8_t* data, int count) {
  SaveOutcome outcome = write_new_file(name, data, count);
  if (outcome.accepted > 0 && outcome.accepted == count && !outcome.completed) return -1;
  return outcome.accepted;
}

namespace {

// File systems take names of at most 255 bytes (ext4, APFS; NTFS counts
// UTF-16 units, never fewer). The temporary name of a target whose own name
// comes close keeps only the front of it, so that such a file can be saved
// at all; the cut falls on an ASCII byte after another, where a character
// begins in every encoding a host uses for file names.
constexpr std::size_t longest_file_name = 255;

std::string temporary_stem(const std::string& target, std::size_t suffix_length) {
  const std::size_t base = static_cast<std::size_t>(host_base_name(target.c_str()) - target.c_str());
  if (target.size() - base + suffix_length <= longest_file_name) return target;
  std::size_t cut = base + (longest_file_name - suffix_length);
  auto ascii = [&target](std::size_t i) { return static_cast<unsigned char>(target[i]) < 0x80; };
  while (cut > base && !(ascii(cut) && ascii(cut - 1))) --cut;
  return target.substr(0, cut);
}

// A new file beside target and named after it, so that one left behind by a
// killed run is easy to recognise. Null when none can be created, with
// failure saying why.
std::FILE* create_temporary_beside(const std::string& target, std::string& path,
                                   platform::CreateFailure& failure) {
  constexpr int names_to_try = 100;
  for (int attempt = 0; attempt < names_to_try; ++attempt) {
    const std::string suffix = ".qv" + std::to_string(attempt) + ".tmp";
    path = temporary_stem(target, suffix.size()) + suffix;
    std::FILE* stream = platform::create_new_file(path.c_str(), target.c_str(), failure);
    if (stream != nullptr || failure != platform::CreateFailure::name_taken) return stream;
  }
  return nullptr;
}

// A file beside the save that a fetch read more than once compares with
// it; a stream of its own with no path when the save has no folder.
struct ScratchFile {
  std::string path;
  std::FILE* stream = nullptr;
};

// The save under way. The old target stays as it was until the new bytes
// are whole on the disk; a full disk, a file-size limit or an interrupt
// costs only the temporary file, which is noted while it exists so that an
// interrupt can remove it.
struct PendingSave {
  bool under_way = false;
  std::string name;       // as the caller gave it
  std::string target;     // the file replaced; empty when name is written as a stream
  std::string temporary;  // with target: the file the bytes go to first
  // With target: the temporary file. Without: the spool that save_stream's
  // bytes wait in until the save is finished (an anonymous file).
  std::FILE* stream = nullptr;
  std::vector<ScratchFile> scratch;
} pending_save;

void close_and_remove(std::FILE* stream, const std::string& path) {
  if (stream != nullptr) std::fclose(stream);
  if (!path.empty()) std::remove(path.c_str());
}

// Removes the temporary and scratch files and forgets the save. Interrupts
// are held off until the notes are cleared, so that the handler never
// removes a name that this process no longer owns.
void end_pending_save(bool remove_temporary) {
  platform::hold_interrupts();
  close_and_remove(pending_save.stream, remove_temporary ? pending_save.temporary : std::string());
  for (const ScratchFile& scratch : pending_save.scratch) close_and_remove(scratch.stream, scratch.path);
  platform::forget_temporary_file(nullptr);
  pending_save = PendingSave{};
  platform::release_interrupts();
}

// A run that ends between the start and the end of a save (TimeOut, an
// abandoned transfer) leaves no temporary file behind.
void abandon_save_at_exit() {
  if (pending_save.under_way) end_pending_save(true);
}

bool replace_target(std::size_t count, const std::uint8_t* data) {
  std::FILE* stream = pending_save.stream;
  bool whole = (count == 0 || std::fwrite(data, 1, count, stream) == count) && std::ferror(stream) == 0 &&
               platform::sync_file(stream);
  pending_save.stream = nullptr;
  whole = std::fclose(stream) == 0 && whole;
  platform::hold_interrupts();
  whole = whole && platform::replace_file(pending_save.temporary.c_str(), pending_save.target.c_str());
  if (whole) pending_save.temporary.clear();  // it is the target now
  end_pending_save(true);
  platform::release_interrupts();
  return whole;
}

}  // namespace

SaveStart start_save(const char* name) {
  if (pending_save.under_way) abandon_save();
  static const bool abandoned_at_exit = std::atexit(abandon_save_at_exit) == 0;
  (void)abandoned_at_exit;
  pending_save.name = name;
  pending_save.target = platform::file_to_replace(name);
  // A terminal, a pipe or a device has no folder to stand beside: its bytes
  // go to it as a stream when the save ends.
  if (pending_save.target.empty()) {
    pending_save.under_way = true;
    return SaveStart::started;
  }
  // Held from before the file exists until it is noted, so that an
  // interrupt in between cannot leave it behind.
  platform::hold_interrupts();
  platform::CreateFailure failure = platform::CreateFailure::none;
  pending_save.stream = create_temporary_beside(pending_save.target, pending_save.temporary, failure);
  if (pending_save.stream != nullptr) {
    platform::note_temporary_file(pending_save.temporary.c_str());
    pending_save.under_way = true;
  }
  platform::release_interrupts();
  if (pending_save.stream != nullptr) return SaveStart::started;
  pending_save = PendingSave{};
  return failure == platform::CreateFailure::not_allowed ? SaveStart::folder_not_writable : SaveStart::failed;
}

int finish_save(const std::uint8_t* data, int count) {
  if (!pending_save.under_way) return 0;
  if (count < 0) {
    abandon_save();
    return 0;
  }
  if (!pending_save.target.empty()) return replace_target(static_cast<std::size_t>(count), data) ? 1 : 0;
  // Appended: a terminal, a pipe or a device takes the bytes as they come,
  // and a file the shell opened for us (/dev/stdout) keeps what ">>" kept.
  SaveOutcome outcome = write_new_file(pending_save.name.c_str(), data, count, "ab");
  end_pending_save(false);
  return outcome.created && outcome.accepted == count && outcome.completed ? 1 : 0;
}

void abandon_save() {
  if (pending_save.under_way) end_pending_save(true);
}

int save_file_whole(const char* name, const std::uint8_t* data, int count) {
  if (count < 0) return 0;
  return start_save(name) == SaveStart::started ? finish_save(data, count) : 0;
}

std::FILE* save_stream() {
  if (!pending_save.under_way) return nullptr;
  // A name that is no regular file gets its bytes only once the save is
  // finished, so that a failed fetch never leaves part of a file in it.
  if (pending_save.target.empty() && pending_save.stream == nullptr) pending_save.stream = std::tmpfile();
  return pending_save.stream;
}

namespace {

// Copies the spool, from its start, to the name the save writes as a
// stream, appended as finish_save appends.
bool copy_spool_to_name() {
  bool opened = false;
  std::FILE* spool = open_save_reader(pending_save.stream, opened);
  std::FILE* out = std::fopen(pending_save.name.c_str(), "ab");
  bool whole = out != nullptr;
  char block[4096];
  for (std::size_t got; whole && (got = std::fread(block, 1, sizeof block, spool)) > 0;) {
    whole = std::fwrite(block, 1, got, out) == got;
  }
  whole = whole && std::ferror(spool) == 0;
  if (out != nullptr) {
    whole = std::fflush(out) == 0 && whole;
    whole = std::fclose(out) == 0 && whole;
  }
  close_save_reader(spool, opened);
  return whole;
}

}  // namespace

int finish_streamed_save() {
  if (save_stream() == nullptr) {
    abandon_save();
    return 0;
  }
  if (!pending_save.target.empty()) return replace_target(0, nullptr) ? 1 : 0;
  bool whole = copy_spool_to_name();
  end_pending_save(false);
  return whole ? 1 : 0;
}

std::FILE* open_scratch_file() {
  if (!pending_save.under_way) return nullptr;
  ScratchFile scratch;
  if (pending_save.target.empty()) {
    scratch.stream = std::tmpfile();
  } else {
    platform::hold_interrupts();
    platform::CreateFailure failure = platform::CreateFailure::none;
    scratch.stream = create_temporary_beside(pending_save.target, scratch.path, failure);
    if (scratch.stream != nullptr) platform::note_temporary_file(scratch.path.c_str());
    platform::release_interrupts();
  }
  if (scratch.stream != nullptr) pending_save.scratch.push_back(scratch);
  return scratch.stream;
}

void save_scratch_instead(std::FILE* chosen) {
  for (auto scratch = pending_save.scratch.begin(); scratch != pending_save.scratch.end(); ++scratch) {
    if (scratch->stream != chosen) continue;
    platform::hold_interrupts();
    platform::forget_temporary_file(pending_save.temporary.c_str());
    close_and_remove(pending_save.stream, pending_save.temporary);
    pending_save.stream = scratch->stream;
    pending_save.temporary = scratch->path;
    pending_save.scratch.erase(scratch);
    platform::release_interrupts();
    return;
  }
}

// The file opened anew by its path, or an anonymous file's own stream,
// rewound.
std::FILE* open_save_reader(std::FILE* stream, bool& opened) {
  std::fflush(stream);
  const std::string* path = stream == pending_save.stream ? &pending_save.temporary : nullptr;
  for (const ScratchFile& scratch : pending_save.scratch) {
    if (scratch.stream == stream) path = &scratch.path;
  }
  opened = path != nullptr && !path->empty();
  if (opened) return std::fopen(path->c_str(), "rb");
  std::rewind(stream);
  return stream;
}

void close_save_reader(std::FILE* reader, bool opened) {
  if (opened && reader != nullptr) std::fclose(reader);
}
