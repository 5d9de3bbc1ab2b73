// The link library's messages: the port, the line, Packets and relay
// frames, the file service and the host files around it. Part of the
// catalogue (messages.h); Japanese texts are Shift-JIS, spelt out in the
// comment above each.
#pragma once

inline constexpr Message link_messages[] = {
    // The port.
    english_already("port_open_error", "port open error"),
    english_already("port_missing", "{port}: no such port"),
    english_already("port_missing_meant", "{port}: no such port ({port} is {device} here)"),
    english_already("port_missing_nearby", "{port}: no such port; did you mean {device}?"),
    english_already("port_busy", "{port}: the port is held by another program"),
    english_already("port_not_serial", "{port}: not a serial port"),
    english_already("port_no_permission", "{port}: no permission to use the port"),
    english_already("port_no_permission_group",
                    "{port}: no permission to use the port; join the group {group} (sudo usermod -aG {group} "
                    "$USER), then log in again"),
    english_already("port_open_failed", "{port}: the port cannot be opened (error {error})"),
    english_already("port_name_too_long", "{port}:port name too long (at most 79 characters)"),
    english_already("read_error", "r-error={error}"),
    english_already("write_error", "w_error={error}"),
    english_already("time_out", "TimeOut"),
    english_already("no_echo", "no echo on the line: echo suppression off (-C)"),
    english_already("nothing_answered",
                    "{port}: nothing answered: check the port (-d), the speed (-s), the cable, and that the "
                    "device's PC link is started"),
    english_already("waiting", "waiting for the device... (no answer; gives up after 10 s)"),
    english_already("waiting_short", "no answer; gives up after 10 s"),
    english_already("waiting_relay", "waiting for the device... (keeps trying; Ctrl-C stops)"),
    english_already("waiting_relay_short", "no answer; retrying, Ctrl-C stops"),
    english_already("interrupted", "Interrupted"),
    english_already("terminated", "Terminated"),
    english_already("hangup", "Hangup"),

    // Packets and relay frames.
    english_already("packet_format_error", "packet format error"),
    english_already("packet_number_error", "packet number error"),
    english_already("packet_checksum_error", "p-check sum error"),
    english_already("packet_cut_short", "packet cut short"),
    english_already("packet_too_long", "packet too long"),
    english_already("packet_length_error", "packet length error"),
    english_already("relay_format_error", "Packet format error"),
    english_already("relay_checksum_error", "opt check sum error"),
    english_already("relay_frame_too_long", "opt frame too long"),
    english_already("too_many_repeats", "too many repeats in a row: the line is too noisy"),
    english_already("train_went_on", "the data train went on after its end: the data did not come whole"),
    english_already("train_end_unconfirmed", "no ENQ after the data train's EOT: the data may not have come whole"),
    english_already("train_without_data",
                    "data Packets without data, without end: the device does not end its train"),
    english_already("train_past_room", "the device sends on past the room it was told: the train does not end"),
    english_already("packet_out_of_sequence", "a data Packet out of sequence: the data did not come whole"),
    english_already("eot_for_repeat", "EOT in place of a Packet sent again: the data did not come whole"),
    english_already("transfer_abandoned", "transfer abandoned"),
    english_already("broken_train_read_again", "{name}: reading it again from the start"),

    // The conversation and the file service.
    // "Zaurus が未接続または待機状態にありません"
    {"not_connected",
     "Zaurus \x82\xaa\x96\xa2\x90\xda\x91\xb1\x82\xdc\x82\xbd\x82\xcd\x91\xd2\x8b\x40\x8f\xf3\x91\xd4\x82\xc9\x82\xa0"
     "\x82\xe8\x82\xdc\x82\xb9\x82\xf1",
     "the Zaurus is not connected or not waiting: start its PC link"},
    // "リセットに失敗しました"
    {"reset_failed", "\x83\x8a\x83\x5a\x83\x62\x83\x67\x82\xc9\x8e\xb8\x94\x73\x82\xb5\x82\xdc\x82\xb5\x82\xbd",
     "the reset failed: the device refused it"},
    english_already("transfer_end", " end"),
    english_already("device_file_missing", "{name} file not found"),
    english_already("packet_error", "packet error"),
    english_already("request_name_too_long", "{name}: file name too long for a request"),
    english_already("unstorable_name", "{name}: the device cannot store this name (a character has no Shift-JIS form)"),
    english_already("beyond_room", "{name}: larger than {room} bytes, not received (raise the room with -m)"),
    english_already("beyond_largest_room",
                    "{name}: larger than {room} bytes, not received (the most the programs can fetch)"),
    english_already("too_large_for_buffer", "{name}: too large for the host's buffer, not received"),
    // "{name}:送信に失敗しました"
    {"sending_failed", "{name}:\x91\x97\x90\x4d\x82\xc9\x8e\xb8\x94\x73\x82\xb5\x82\xdc\x82\xb5\x82\xbd",
     "{name}: sending failed: the device did not confirm the file"},
    english_already("read_back_again", "{name}: the read-back differs from what was sent: reading it back again"),
    english_already("read_back_differs", "{name}: read back, the device file differs from what was sent"),
    english_already("not_verified", "{name}: not read back, the write is not verified"),
    english_already("too_large_to_verify", "{name}: too large to be read back for a verify"),
    english_already("write_read_back_whole",
                    "{name}: the line was not clean during the write; read back, the file is whole"),
    english_already("write_not_proven",
                    "{name}: the line was not clean during the write, which cannot be read back: not proven"),
    english_already("sending_again", "{name}: sending it again"),
    english_already("damaged_fetch_read_again",
                    "{name}: the line damaged Packets on the way: reading it again to compare"),
    english_already("reads_differ", "{name}: the two reads differ, reading it a third time"),
    english_already("reads_voted", "{name}: read three times; saved as two of the reads agree at each byte"),
    english_already("no_two_reads_alike", "{name}: read three times, no two reads alike: not saved"),

    // Host files.
    english_already("host_file_unreadable", "{name}:file open error"),
    // "メモリが確保できません"
    {"no_memory", "\x83\x81\x83\x82\x83\x8a\x82\xaa\x8a\x6d\x95\xdb\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1",
     "memory cannot be allocated"},
    // "ファイルが作れません"
    {"cannot_create", "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xaa\x8d\xec\x82\xea\x82\xdc\x82\xb9\x82\xf1",
     "the file cannot be created"},
    english_already("folder_not_writable",
                    "{name}: the folder cannot be written, and a file is first saved whole under another name there"),
};
