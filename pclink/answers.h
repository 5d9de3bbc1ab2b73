// The device's one-byte answer to a unit of ours, told from the damage
// around it.
//
// Principles of operation: the device answers a unit with one byte (ACK
// or NAK) once the unit is whole, and falls silent. What comes where that
// byte is due may also be a stray byte, one of our own bytes echoed late
// behind bytes the line added, or the answer to something the device made
// of part of our Packet; the bytes around it, and the time it came, tell
// which.
#pragma once

// The device's one-byte answer to a unit the host sent. Anything but ACK or
// NAK is line damage: the line is drained, and an ACK or NAK as the last byte
// before the silence is the answer; otherwise the stray byte is returned.
int recv_answer();
// recv_answer on a cable for a unit whose answer may be lost for good: -1
// when no byte came within the line's time-out, which is then not spent.
// (Through the relay, which repeats its frames without limit, recv_answer.)
int recv_answer_or_silence();
