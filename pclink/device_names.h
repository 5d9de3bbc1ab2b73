// Device file names typed by the user. The device stores its names in
// Shift-JIS; a shell in a UTF-8 locale hands over UTF-8, which the device
// would show as nonsense. Host file names are never changed: they are used
// as the shell gave them.
#pragma once

#include <string>

// The device's form of a name given in the user's own encoding: its
// Shift-JIS form in a locale of another character set; the name as given
// in the C locale, in a Shift-JIS locale, or when it is no text of the
// locale's set (Shift-JIS bytes already, say). Returns false, after
// printing why, when Shift-JIS cannot hold one of its characters.
bool device_name_from_user_name(const char* name, std::string& device_name);
