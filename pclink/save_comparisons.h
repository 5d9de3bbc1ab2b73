// Comparing the reads of one fetch, held as files of its save
// (file_saves.h): save_stream() and scratch files.
#pragma once

#include <cstdio>

// Whether two reads hold the same bytes.
bool same_bytes(std::FILE* one, std::FILE* other);

// Writes to out, place by place, the byte that at least two of three reads
// of one length hold there. False when their lengths differ, a place holds
// three different bytes, or a file cannot be read or written: out then
// holds nothing to keep.
bool write_majority(std::FILE* first, std::FILE* second, std::FILE* third, std::FILE* out);
