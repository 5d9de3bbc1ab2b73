// Optical relay framing (link mode 2): each PC-link unit travels as the
// payload of one relay frame. The packet layer calls these hooks around every
// unit; they do nothing unless relay_active is set.
#pragma once

#include <cstdint>

// Receiving a unit: fetches the next frame into the relay buffer.
void begin_receive();
// Sending a unit: starts collecting it in the relay buffer.
void begin_send();
// Sending a unit: sends the collected bytes as one frame.
void end_send();

// The relay path of link_read and link_write.
void relay_read(int n, std::uint8_t* destination);
void relay_write(int n, const std::uint8_t* source);
