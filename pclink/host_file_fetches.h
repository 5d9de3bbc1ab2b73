// Device files fetched into host files: the read streamed to a temporary
// file beside the target as it comes, so that a file of any size costs the
// host no more memory than one Packet, and saved in the target's place only
// once it is whole. Results are exit codes of console.h.
#pragma once

// Fetches device file device_name, takes the device's closing ENQ and saves
// exactly what came as host file host_name, an empty file included. A file
// larger than room is refused (the message names -m when it can raise the
// room) and nothing is saved, as after any failed fetch.
// With verify the device file is read twice and saved only when both reads
// hold the same bytes: the sums of the Packets are 16 bits wide, and damage
// that keeps a Packet's sum passes them. Reads that differ are settled by a
// third one, which must match one of them; with no two alike, nothing is
// saved.
int fetch_to_host_file(const char* device_name, const char* host_name, int room, bool verify = false);
