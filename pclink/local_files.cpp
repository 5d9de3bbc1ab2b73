#include "pclink/local_files.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "pclink/host_path.h"
#include "pclink/platform.h"

namespace {

int loaded_size_record = 0;

bool is_standard_input_name(const char* name) {
  return name[0] == '-' && name[1] == '\0';
}

bool is_standard_stream(const std::FILE* stream) {
  return stream == stdin || stream == stdout || stream == stderr;
}

// The size of an open file from its end position, the stream left at its
// start; -1 when the stream cannot seek (a pipe, a terminal).
long long measure_file(std::FILE* stream) {
  if (std::fseek(stream, 0, SEEK_END) != 0) return -1;
  long size = std::ftell(stream);
  if (size < 0 || std::fseek(stream, 0, SEEK_SET) != 0) return -1;
  return size;
}

// Reads exactly size bytes and makes sure nothing follows them: a file that
// changed size, or a directory that opened but cannot be read, is not a
// file read whole.
bool read_whole(std::FILE* stream, std::uint8_t* destination, long long size) {
  std::size_t wanted = static_cast<std::size_t>(size);
  if (std::fread(destination, 1, wanted, stream) != wanted) return false;
  return std::fgetc(stream) == EOF && !std::ferror(stream);
}

}  // namespace

int open_input(FileRef& ref, const char* name) {
  ref.stream = is_standard_input_name(name) ? stdin : std::fopen(name, "rb");
  if (ref.stream == nullptr) return 0;
  ref.descriptor = fileno(ref.stream);
  return 1;
}

int close_file(FileRef& ref) {
  if (ref.stream == nullptr || is_standard_stream(ref.stream)) return 1;
  return std::fclose(ref.stream) == 0 ? 1 : 0;
}

int read_block(FileRef& ref, void* buffer, int count) {
  if (count <= 0) return 0;
  return static_cast<int>(std::fread(buffer, 1, static_cast<std::size_t>(count), ref.stream));
}

int read_text_line(FileRef& ref, char* destination) {
  char work[text_line_buffer_size];
  if (std::fgets(work, sizeof work, ref.stream) == nullptr) return -1;
  int length = 0;
  while (work[length] != '\0' && work[length] != '\r' && work[length] != '\n') {
    destination[length] = work[length];
    ++length;
  }
  destination[length] = '\0';
  return length;
}

std::uint8_t* load_file_with_room(const char* name, int room_before, int room_after) {
  std::FILE* stream = std::fopen(name, "rb");
  if (stream == nullptr) return nullptr;
  long long size = measure_file(stream);
  long long total = size + room_before + room_after;
  if (size < 0 || room_before < 0 || room_after < 0 || total > max_loaded_size) {
    std::fclose(stream);
    return nullptr;
  }
  loaded_size_record = static_cast<int>(total);
  // One byte at least, so that an empty file still gives a block to free.
  auto* block = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(total > 0 ? total : 1)));
  if (block == nullptr) {
    std::fclose(stream);
    return nullptr;
  }
  bool whole = read_whole(stream, block + room_before, size);
  std::fclose(stream);
  if (!whole) {
    std::free(block);
    return nullptr;
  }
  return block;
}

std::uint8_t* load_file(const char* name) {
  return load_file_with_room(name, 0, 0);
}

std::uint8_t* load_file_room_before(const char* name, int room_before) {
  return load_file_with_room(name, room_before, 0);
}

int loaded_size() {
  return loaded_size_record;
}

namespace {

struct SaveOutcome {
  bool created;
  int accepted;    // bytes the stream took
  bool completed;  // flushed to the file and closed
};

SaveOutcome write_new_file(const char* name, const std::uint8_t* data, int count) {
  std::FILE* stream = std::fopen(name, "wb");
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

// The save under way. The old target stays as it was until the new bytes
// are whole on the disk; a full disk, a file-size limit or an interrupt
// costs only the temporary file, which is noted while it exists so that an
// interrupt can remove it.
struct PendingSave {
  bool under_way = false;
  std::string name;       // as the caller gave it
  std::string target;     // the file replaced; empty when name is written as a stream
  std::string temporary;  // with target: the file the bytes go to first
  std::FILE* stream = nullptr;
} pending_save;

// Removes the temporary file and forgets the save. Interrupts are held off
// until the note is cleared, so that the handler never removes a name that
// this process no longer owns.
void end_pending_save(bool remove_temporary) {
  platform::hold_interrupts();
  if (pending_save.stream != nullptr) std::fclose(pending_save.stream);
  if (remove_temporary && !pending_save.temporary.empty()) std::remove(pending_save.temporary.c_str());
  note_temporary_file(nullptr);
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
  bool whole = (count == 0 || std::fwrite(data, 1, count, stream) == count) && platform::sync_file(stream);
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
    note_temporary_file(pending_save.temporary.c_str());
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
  SaveOutcome outcome = write_new_file(pending_save.name.c_str(), data, count);
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

namespace {

// Large enough for any path the host gives; a longer one is not noted.
char temporary_file_path[4096];
volatile bool temporary_file_noted = false;

}  // namespace

void note_temporary_file(const char* path) {
  temporary_file_noted = false;
  if (path == nullptr || std::strlen(path) >= sizeof temporary_file_path) {
    return;
  }
  std::strcpy(temporary_file_path, path);
  temporary_file_noted = true;
}

const char* noted_temporary_file() {
  return temporary_file_noted ? temporary_file_path : nullptr;
}

void out_char(int byte) {
  std::fputc(byte, stdout);
}

void err_char(int byte) {
  std::fputc(byte, stderr);
}

void out_text(const char* text) {
  std::fputs(text, stdout);
}

void err_text(const char* text) {
  std::fputs(text, stderr);
}

char* copy_string(char* destination, const char* source) {
  while ((*destination = *source) != '\0') {
    ++destination;
    ++source;
  }
  return destination;
}

int text_length(const char* text) {
  return static_cast<int>(std::strlen(text));
}

void copy_block(int count, void* destination, const void* source) {
  auto* to = static_cast<std::uint8_t*>(destination);
  const auto* from = static_cast<const std::uint8_t*>(source);
  for (int i = 0; i < count; ++i) to[i] = from[i];
}

char* format_decimal(int value, int width, char* field) {
  if (width <= 0) return field;
  char* end = field + width;
  char* position = end;
  // Widened so that the most negative int can be negated.
  long long magnitude = value;
  int room = width;
  if (magnitude < 0) {
    magnitude = -magnitude;
    --room;
  }
  do {
    if (room == 0) {
      std::memset(field, '*', static_cast<std::size_t>(width));
      return end;
    }
    *--position = static_cast<char>('0' + magnitude % 10);
    --room;
    magnitude /= 10;
  } while (magnitude != 0);
  while (room > 0) {
    *--position = ' ';
    --room;
  }
  if (value < 0) field[0] = '-';
  return end;
}
