// The texts qvunpack prints, in Shift-JIS, each with its own line end.
#pragma once

// "qvunpack v1.4 バックアップファイルを切り出す"; the author suffix and "\r\n" follow.
constexpr char unpack_title[] =
    "qvunpack v1.4 "
    "\x83\x6f\x83\x62\x83\x4e\x83\x41\x83\x62\x83\x76\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xf0\x90\xd8\x82\xe8\x8f\x6f\x82\xb7";

constexpr char unpack_usage[] = "usage: qvunpack [-l] <backupfile>\r\n";

// "データ構造が合いません" (the data structure does not match)
constexpr char message_structure[] =
    "\x83\x66\x81\x5b\x83\x5e\x8d\x5c\x91\xa2\x82\xaa\x8d\x87\x82\xa2\x82\xdc\x82\xb9\x82\xf1\r\n";

// "サイズが合いません" (the size does not match)
constexpr char message_size[] = "\x83\x54\x83\x43\x83\x59\x82\xaa\x8d\x87\x82\xa2\x82\xdc\x82\xb9\x82\xf1\r\n";

// "メモリエラー" (memory error)
constexpr char message_memory[] = "\x83\x81\x83\x82\x83\x8a\x83\x47\x83\x89\x81\x5b\r\n";

// Follow a file name. ":がオープンできません" (cannot be opened)
constexpr char message_cannot_open[] =
    "\x3a\x82\xaa\x83\x49\x81\x5b\x83\x76\x83\x93\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\r\n";

// ":ファイルが作れません" (the file cannot be created)
constexpr char message_cannot_create[] =
    ":\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xaa\x8d\xec\x82\xea\x82\xdc\x82\xb9\x82\xf1\r\n";

// ":ファイル名が不正です" (the file name is not allowed)
constexpr char message_unsafe_name[] =
    ":\x83\x74\x83\x40\x83\x43\x83\x8b\x96\xbc\x82\xaa\x95\x73\x90\xb3\x82\xc5\x82\xb7\r\n";
