// The link library's messages: the port, the line, Packets and relay
// frames, the file service and the host files around it. Part of the
// catalogue (messages.h); Japanese texts are Shift-JIS, spelt out in the
// comment above each.
#pragma once

inline constexpr Message link_messages[] = {
    // The port.
    {"port_open_error", "port open error", "port open error"},
    {"port_missing", "{port}: no such port", "{port}: no such port"},
    {"port_missing_meant", "{port}: no such port ({port} is {device} here)",
     "{port}: no such port ({port} is {device} here)"},
    {"port_missing_nearby", "{port}: no such port; did you mean {device}?",
     "{port}: no such port; did you mean {device}?"},
    {"port_busy", "{port}: the port is held by another program", "{port}: the port is held by another program"},
    {"port_not_serial", "{port}: not a serial port", "{port}: not a serial port"},
    {"port_no_permission", "{port}: no permission to use the port", "{port}: no permission to use the port"},
    {"port_no_permission_group",
     "{port}: no permission to use the port; join the group {group} (sudo usermod -aG {group} $USER), then log in "
     "again",
     "{port}: no permission to use the port; join the group {group} (sudo usermod -aG {group} $USER), then log in "
     "again"},
    {"port_open_failed", "{port}: the port cannot be opened (error {error})",
     "{port}: the port cannot be opened (error {error})"},
    {"port_name_too_long", "{port}:port name too long (at most 79 characters)",
     "{port}:port name too long (at most 79 characters)"},
    {"read_error", "r-error={error}", "r-error={error}"},
    {"write_error", "w_error={error}", "w_error={error}"},
    {"time_out", "TimeOut", "TimeOut"},
    {"no_echo", "no echo on the line: echo suppression off (-C)", "no echo on the line: echo suppression off (-C)"},
    {"waiting", "waiting for the device... (no answer; gives up after 10 s)",
     "waiting for the device... (no answer; gives up after 10 s)"},
    {"waiting_short", "no answer; gives up after 10 s", "no answer; gives up after 10 s"},
    {"waiting_relay", "waiting for the device... (keeps trying; Ctrl-C stops)",
     "waiting for the device... (keeps trying; Ctrl-C stops)"},
    {"waiting_relay_short", "no answer; retrying, Ctrl-C stops", "no answer; retrying, Ctrl-C stops"},
    {"interrupted", "Interrupted", "Interrupted"},
    {"terminated", "Terminated", "Terminated"},
    {"hangup", "Hangup", "Hangup"},

    // Packets and relay frames.
    {"packet_format_error", "packet format error", "packet format error"},
    {"packet_number_error", "packet number error", "packet number error"},
    {"packet_checksum_error", "p-check sum error", "p-check sum error"},
    {"packet_cut_short", "packet cut short", "packet cut short"},
    {"packet_too_long", "packet too long", "packet too long"},
    {"packet_length_error", "packet length error", "packet length error"},
    {"relay_format_error", "Packet format error", "Packet format error"},
    {"relay_checksum_error", "opt check sum error", "opt check sum error"},
    {"relay_frame_too_long", "opt frame too long", "opt frame too long"},
    {"too_many_repeats", "too many repeats in a row: the line is too noisy",
     "too many repeats in a row: the line is too noisy"},
    {"eot_inside_train", "EOT inside the data train: the data did not come whole",
     "EOT inside the data train: the data did not come whole"},
    {"packet_out_of_sequence", "a data Packet out of sequence: the data did not come whole",
     "a data Packet out of sequence: the data did not come whole"},
    {"eot_for_repeat", "EOT in place of a Packet sent again: the data did not come whole",
     "EOT in place of a Packet sent again: the data did not come whole"},
    {"transfer_abandoned", "transfer abandoned", "transfer abandoned"},

    // The conversation and the file service.
    // "Zaurus が未接続または待機状態にありません"
    {"not_connected",
     "Zaurus \x82\xaa\x96\xa2\x90\xda\x91\xb1\x82\xdc\x82\xbd\x82\xcd\x91\xd2\x8b\x40\x8f\xf3\x91\xd4\x82\xc9\x82\xa0"
     "\x82\xe8\x82\xdc\x82\xb9\x82\xf1",
     "the Zaurus is not connected or not waiting: start its PC link"},
    // "リセットに失敗しました"
    {"reset_failed", "\x83\x8a\x83\x5a\x83\x62\x83\x67\x82\xc9\x8e\xb8\x94\x73\x82\xb5\x82\xdc\x82\xb5\x82\xbd",
     "the reset failed: the device refused it"},
    {"transfer_end", " end", " end"},
    {"device_file_missing", "{name} file not found", "{name} file not found"},
    {"packet_error", "packet error", "packet error"},
    {"request_name_too_long", "{name}: file name too long for a request", "{name}: file name too long for a request"},
    {"unstorable_name", "{name}: the device cannot store this name (a character has no Shift-JIS form)",
     "{name}: the device cannot store this name (a character has no Shift-JIS form)"},
    {"beyond_room", "{name}: larger than {room} bytes, not received (raise the room with -m)",
     "{name}: larger than {room} bytes, not received (raise the room with -m)"},
    {"beyond_largest_room", "{name}: larger than {room} bytes, not received (the most the programs can fetch)",
     "{name}: larger than {room} bytes, not received (the most the programs can fetch)"},
    {"too_large_for_buffer", "{name}: too large for the host's buffer, not received",
     "{name}: too large for the host's buffer, not received"},
    // "{name}:送信に失敗しました"
    {"sending_failed", "{name}:\x91\x97\x90\x4d\x82\xc9\x8e\xb8\x94\x73\x82\xb5\x82\xdc\x82\xb5\x82\xbd",
     "{name}: sending failed: the device did not confirm the file"},
    {"read_back_differs", "{name}: read back, the device file differs from what was sent",
     "{name}: read back, the device file differs from what was sent"},
    {"not_verified", "{name}: not read back, the write is not verified",
     "{name}: not read back, the write is not verified"},
    {"too_large_to_verify", "{name}: too large to be read back for a verify",
     "{name}: too large to be read back for a verify"},

    // Host files.
    {"host_file_unreadable", "{name}:file open error", "{name}:file open error"},
    // "メモリが確保できません"
    {"no_memory", "\x83\x81\x83\x82\x83\x8a\x82\xaa\x8a\x6d\x95\xdb\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1",
     "memory cannot be allocated"},
    // "ファイルが作れません"
    {"cannot_create", "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xaa\x8d\xec\x82\xea\x82\xdc\x82\xb9\x82\xf1",
     "the file cannot be created"},
    {"folder_not_writable",
     "{name}: the folder cannot be written, and a file is first saved whole under another name there",
     "{name}: the folder cannot be written, and a file is first saved whole under another name there"},
};
