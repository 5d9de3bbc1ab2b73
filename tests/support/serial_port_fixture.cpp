// The SerialPort fixture: see support/serial_port_fixture.h.
#include "support/serial_port_fixture.h"

#include "pclink/serial_port.h"
#include "support/scripted_port.h"

void SerialPort::SetUp() {
  scripted_port::reset();
}

void send_one(std::uint8_t byte) {
  send_unit(&byte, 1, pclink_byte_timeout);
}
