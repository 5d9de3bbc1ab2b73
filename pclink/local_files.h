// Host files, the console streams and small string routines.
//
// Principles of operation: these routines sit directly on the standard
// library's buffered streams. They never print a message and never end the
// process; every failure is told through the result, and the calling tool
// chooses what to say. File contents and texts are byte strings passed
// untranslated, so Shift-JIS text goes through byte for byte.
#pragma once

#include <cstdint>
#include <cstdio>

// A host file opened for reading. The caller owns the record (usually on its
// stack); the open routines fill it. The name "-" (exactly one hyphen) stands
// for the process's standard input, which is used in the mode it already has
// and is never closed by the library.
struct FileRef {
  std::FILE* stream;  // null after a failed open
  int descriptor;     // recorded at a successful open; the library reads only stream
};

// Opens name for reading in byte mode, or takes standard input for "-".
// 1 on success, 0 when the file cannot be opened (stream is then null).
int open_input(FileRef& ref, const char* name);

// Closes the stream unless it is a standard stream. 1 when the stream was
// closed or left open as a standard stream, 0 when closing failed.
int close_file(FileRef& ref);

// Reads up to count bytes; returns the number read (fewer at the end of the
// file, 0 for a count of 0 or less).
int read_block(FileRef& ref, void* buffer, int count);

// The size of the buffer that read_text_line fills: 1023 bytes and a NUL.
constexpr int text_line_buffer_size = 1024;

// One text line without its line end: the bytes before the first CR, LF or
// NUL, closed by a NUL. Returns their count, or -1 when no more input (or a
// read error). A line longer than 1023 bytes arrives in portions of at most
// 1023 bytes, one per call, with nothing to mark the break. destination must
// hold text_line_buffer_size bytes.
int read_text_line(FileRef& ref, char* destination);

// The largest block a load hands out, room included: the loaded-size record
// is an int, and the device protocol counts sizes in no more bits than that.
constexpr long long max_loaded_size = 0x7FFFFFFF;

// Reads the whole file name ("-" is a file name here) into a new block of
// room_before + file size + room_after bytes, the contents starting
// room_before bytes in; the room is left as the allocator gives it. Returns
// the block, which the caller frees with std::free, or null when the file
// cannot be opened, cannot be read whole (a read error, a short read, a
// stream that cannot seek, a directory), would make a block larger than
// max_loaded_size, or when memory runs out. Whenever the file was opened and
// its size fits, the loaded-size record is set before the block is allocated.
std::uint8_t* load_file_with_room(const char* name, int room_before, int room_after);
std::uint8_t* load_file(const char* name);
std::uint8_t* load_file_room_before(const char* name, int room_before);

// The full size of the block of the most recent load whose size was taken,
// room included.
int loaded_size();

// Bytes and texts to standard output and standard error, untranslated; no
// newline is added. Buffering is the standard library's.
void out_char(int byte);
void err_char(int byte);
void out_text(const char* text);
void err_text(const char* text);
// Flushes standard output and tells whether everything written to it so
// far reached it: false after a write error (a full disk, /dev/full), which
// the buffering would otherwise leave unseen until the process ends.
bool output_written_whole();

// Copies source with its NUL; returns the position of the copied NUL in
// destination, so that copies chain into a concatenation. The destination
// must have room.
char* copy_string(char* destination, const char* source);

// Number of bytes before the NUL.
int text_length(const char* text);

// Copies count bytes from source to destination, first byte first. The
// destination must have room.
void copy_block(int count, void* destination, const void* source);

// Writes value right-aligned in decimal into the width bytes at field, spaces
// on the left, a minus sign at the left edge of the field, and returns
// field + width; writes no NUL. Nothing is ever written outside the field: a
// value whose digits (and sign) do not fit fills the field with '*'.
char* format_decimal(int value, int width, char* field);
