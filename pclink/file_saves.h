// Host files saved: plainly, or whole, so that a failed or interrupted save
// never leaves a file cut short in the target's place. Like the other local
// file routines these never print a message and never end the process.
#pragma once

#include <cstdint>
#include <cstdio>

// Creates the file name (emptying an existing one) in byte mode, writes count
// bytes and closes it. Returns the number of bytes the stream accepted (so a
// partly failed write gives fewer than count), 0 when the file cannot be
// created, and -1 when every byte was accepted but they could not be
// flushed to the file or the file could not be closed. A count of 0 gives 0
// on success too.
int save_file(const char* name, const std::uint8_t* data, int count);

// Saves count bytes as the file name and tells plainly whether it now holds
// exactly them: 1 when written whole, 0 otherwise (a count of 0 that makes
// an empty file is a success). The bytes go to a temporary file in the same
// folder, noted for the interrupt handler while it exists, and are forced to
// the disk before that file replaces name in one step; on any failure it is
// removed and an existing file name is left untouched. A symbolic link
// keeps pointing at the saved file. Only a name that is no regular file (a
// terminal, a pipe, a device) is written into directly, as a stream.
int save_file_whole(const char* name, const std::uint8_t* data, int count);

// The same save in steps, for bytes still to come (a fetch): start_save
// creates the temporary file at once, so that a save that cannot be done is
// known before anything is asked of the device; finish_save then writes the
// bytes and gives 1 or 0 as save_file_whole does, and abandon_save removes
// the temporary file instead. One save at a time: starting another abandons
// the one under way. A process that ends through exit with a save under way
// (TimeOut, an abandoned transfer) removes its temporary file too. A name
// that is no regular file is opened only by finish_save.
enum class SaveStart {
  started,
  folder_not_writable,  // this user may not add the temporary file to the folder
  failed,               // the temporary file cannot be created for another reason
};
SaveStart start_save(const char* name);
int finish_save(const std::uint8_t* data, int count);
void abandon_save();

// The same save for bytes that come a piece at a time (a fetch), so that a
// file of any size costs no more memory than a piece: they are written to
// save_stream() as they come, and finish_streamed_save then forces them to
// the disk and puts the file in name's place, giving 1 or 0 as
// finish_save does. A name that is no regular file gets the bytes only
// then: until the save is finished they wait in an anonymous spool. Null
// when no save is under way or no spool can be made.
std::FILE* save_stream();
int finish_streamed_save();

// For a fetch read more than once: a scratch file beside the save (an
// anonymous one for a name that is no regular file) to hold another read,
// removed with the save however it ends; null when none can be made.
// save_scratch_instead makes a scratch file's bytes the ones the save puts
// in name's place, dropping the others.
std::FILE* open_scratch_file();
void save_scratch_instead(std::FILE* chosen);
// A file of the save (save_stream() or a scratch file), written so far,
// to read from its start; opened tells close_save_reader whether the reader
// is a stream of its own. Null when it cannot be read.
std::FILE* open_save_reader(std::FILE* stream, bool& opened);
void close_save_reader(std::FILE* reader, bool opened);
