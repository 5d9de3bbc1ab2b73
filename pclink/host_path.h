// Host file names as the programs take them apart.
#pragma once

// The file name at the end of a host path, inside the path's own bytes:
// "../notes/memo.txt" gives "memo.txt". On Windows "\" and a drive ("C:")
// separate as well as "/"; a path that ends in a separator gives "".
const char* host_base_name(const char* path);
