// The programs' own messages: banners, usage texts and what a refused
// command line is told, and each program's messages. Part of the catalogue
// (messages.h); Japanese texts are Shift-JIS, spelt out in the comment
// above each. A usage text carries its own line ends.
#pragma once

inline constexpr Message program_messages[] = {
    // Banners, followed on the same line by the author suffix.
    // "qvcopy v{version} ZAURUS ファイルダイレクト転送"
    {"title_qvcopy",
     "qvcopy v{version} ZAURUS "
     "\x83\x74\x83\x40\x83\x43\x83\x8b\x83\x5f\x83\x43\x83\x8c\x83\x4e\x83\x67\x93\x5d\x91\x97",
     "qvcopy v{version} ZAURUS direct file transfer"},
    // "qvcomlog v{version} ZAURUSネットファイル転送"
    {"title_qvcomlog",
     "qvcomlog v{version} ZAURUS\x83\x6c\x83\x62\x83\x67\x83\x74\x83\x40\x83\x43\x83\x8b\x93\x5d\x91\x97",
     "qvcomlog v{version} ZAURUS net file transfer"},
    // "qvdir v{version} ZAURUS 内部リスト表示"
    {"title_qvdir", "qvdir v{version} ZAURUS \x93\xe0\x95\x94\x83\x8a\x83\x58\x83\x67\x95\x5c\x8e\xa6",
     "qvdir v{version} ZAURUS storage list"},
    // "qvrestart v{version} ZAURUS パソコンリンクリセット"
    {"title_qvrestart",
     "qvrestart v{version} ZAURUS "
     "\x83\x70\x83\x5c\x83\x52\x83\x93\x83\x8a\x83\x93\x83\x4e\x83\x8a\x83\x5a\x83\x62\x83\x67",
     "qvrestart v{version} ZAURUS PC link reset"},
    // "qvinstall v{version} ZAURUS AddInソフト転送"
    {"title_qvinstall", "qvinstall v{version} ZAURUS AddIn\x83\x5c\x83\x74\x83\x67\x93\x5d\x91\x97",
     "qvinstall v{version} ZAURUS AddIn software transfer"},
    // "qvunpack v1.4 バックアップファイルを切り出す"
    {"title_qvunpack",
     "qvunpack v1.4 "
     "\x83\x6f\x83\x62\x83\x4e\x83\x41\x83\x62\x83\x76\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xf0\x90\xd8\x82\xe8\x8f\x6f"
     "\x82\xb7",
     "qvunpack v1.4 backup file extraction"},

    // Usage texts.
    english_already("usage_qvcopy",
                    "usage: qvcopy    [-s0|1|2] <fileX68> [<fileZAU>]      (X68K->ZAURUS)\r\n"
                    "       qvcopy -g [-s0|1|2] <fileZAU> [<fileX68>]      (ZAURUS->X68K)\r\n"),
    english_already("usage_qvcomlog",
                    "usage: qvcomlog    [-s0|1|2] [-cN] <file>    (X68K->ZaurusNetLog)\r\n"
                    "       qvcomlog -g [-s0|1|2] [-cN] <file>    (ZaurusNetLog->X68K)\r\n"),
    english_already("usage_qvdir", "usage: qvdir [-s0|1|2] [<ZAURUS FileName>]\r\n"),
    english_already("usage_qvrestart", "usage: qvrestart [-s0|1|2] -r\n"),
    english_already("usage_qvinstall",
                    "usage: qvinstall    [-s0|1|2] [-t] [-D] <file>.zrs\n"
                    "       qvinstall -q [-s0|1|2] [-t] [-R] <file>.bas\n"),
    english_already("usage_qvunpack", "usage: qvunpack [-l] [-t] <backupfile>\r\n"),

    // A refused command line: the line before the usage text names what
    // was wrong, the line after it the options the usage text leaves out.
    english_already("option_letter_unknown", "{program}: unknown option letter '{letter}' in '{argument}'"),
    english_already("option_unknown", "{program}: unknown option '{argument}'"),
    english_already("port_option_missing", "{program}: -d needs a port name (-d /dev/ttyUSB0)"),
    english_already("size_option_missing", "{program}: -m needs a size (-m 256K)"),
    english_already("size_option_bad",
                    "{program}: '{size}' is no size for -m: a number of bytes, or one followed by K or M, at most "
                    "16777214"),
    english_already("link_mode_option_bad", "{program}: '{argument}': -s takes one digit (-s0, -s1 or -s2)"),
    english_already("slot_option_bad", "{program}: '{argument}': -c takes one character, the slot 0 to 8 (-c3)"),
    english_already("name_too_many", "{program}: '{argument}': one name too many ('{earlier}' is named already)"),
    english_already("file_name_missing", "{program}: no file named"),
    english_already("package_name_missing", "{program}: no package list or program file named"),
    english_already("archive_name_missing", "{program}: no backup file named"),
    english_already("run_option_missing", "{program}: nothing is done without -r"),
    english_already("usage_more_options", "{program} also takes {options}. Try '{program} --help'"),
    english_already("usage_help_hint", "Try '{program} --help'"),

    // qvrestart, on a terminal only: a successful run is otherwise silent.
    english_already("reset_done", "the device's PC link was reset"),

    // qvdir and qvunpack.
    english_already("output_not_written", "standard output cannot be written: the {what} is not whole there"),
    // qvdir. "通信中 しばらくお待ち下さい"
    {"communicating",
     "\x92\xca\x90\x4d\x92\x86 \x82\xb5\x82\xce\x82\xe7\x82\xad\x82\xa8\x91\xd2\x82\xbf\x89\xba\x82\xb3\x82\xa2",
     "communicating, please wait"},

    // qvinstall. "タイトル {title}"
    {"package_title", "\x83\x5e\x83\x43\x83\x67\x83\x8b {title}", "title: {title}"},
    // "{name}:がオープンできません", also qvunpack's archive
    {"cannot_open", "{name}:\x82\xaa\x83\x49\x81\x5b\x83\x76\x83\x93\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1",
     "{name}: cannot be opened"},
    // "{name}:フォーマットエラー"
    {"list_format_error", "{name}:\x83\x74\x83\x48\x81\x5b\x83\x7d\x83\x62\x83\x67\x83\x47\x83\x89\x81\x5b",
     "{name}: format error: a package list begins with ZRS,P,"},
    // "addin 機能は使用できません"
    {"addin_unavailable",
     "addin \x8b\x40\x94\x5c\x82\xcd\x8e\x67\x97\x70\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1",
     "the add-in function cannot be used on this device"},
    // "送信コマンドエラー"
    {"send_command_error", "\x91\x97\x90\x4d\x83\x52\x83\x7d\x83\x93\x83\x68\x83\x47\x83\x89\x81\x5b",
     "send command error: the device refused to take a file"},
    // "{name}:送信ファイルがオープンできません"
    {"install_file_unreadable",
     "{name}:\x91\x97\x90\x4d\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xaa\x83\x49\x81\x5b\x83\x76\x83\x93\x82\xc5\x82\xab"
     "\x82\xdc\x82\xb9\x82\xf1",
     "{name}: the file to send cannot be opened"},
    english_already("program_name_too_long", "{name}:file name too long (at most 2041 bytes)"),
    // " 終了", after a file's progress
    {"install_file_done", " \x8f\x49\x97\xb9", " done"},
    // "送信完了"
    {"sending_complete", "\x91\x97\x90\x4d\x8a\xae\x97\xb9", "sending complete"},
    // "送信完了 Zaurus本体を再起動します"
    {"sending_complete_restart",
     "\x91\x97\x90\x4d\x8a\xae\x97\xb9 Zaurus\x96\x7b\x91\xcc\x82\xf0\x8d\xc4\x8b\x4e\x93\xae\x82\xb5\x82\xdc\x82\xb7",
     "sending complete; the Zaurus restarts"},

    // qvunpack, each followed by CR LF. "データ構造が合いません"
    {"archive_damaged", "\x83\x66\x81\x5b\x83\x5e\x8d\x5c\x91\xa2\x82\xaa\x8d\x87\x82\xa2\x82\xdc\x82\xb9\x82\xf1",
     "the data structure does not match: the archive is damaged or is none"},
    // "サイズが合いません"
    {"member_size_wrong", "\x83\x54\x83\x43\x83\x59\x82\xaa\x8d\x87\x82\xa2\x82\xdc\x82\xb9\x82\xf1",
     "the size does not match: the member is not written"},
    // "メモリエラー"
    {"member_no_memory", "\x83\x81\x83\x82\x83\x8a\x83\x47\x83\x89\x81\x5b", "memory error: the member is skipped"},
    // "{name}:ファイルが作れません"
    {"member_cannot_create", "{name}:\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xaa\x8d\xec\x82\xea\x82\xdc\x82\xb9\x82\xf1",
     "{name}: the file cannot be created"},
    // "{name}:ファイル名が不正です"
    {"member_name_unsafe", "{name}:\x83\x74\x83\x40\x83\x43\x83\x8b\x96\xbc\x82\xaa\x95\x73\x90\xb3\x82\xc5\x82\xb7",
     "{name}: the name is not allowed here: it would land outside the current folder"},
};
