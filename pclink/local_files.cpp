#include "pclink/local_files.h"

#include <cstdlib>
#include <cstring>

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

bool output_written_whole() {
  return std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
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
