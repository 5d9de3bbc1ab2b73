// The emulated device as one piece over a line: the transport the options
// choose (cable or optical relay), the device's view of the link with its
// silence fault, and the device with its services and faults. The program
// builds it over a pseudo-terminal; a simulator builds the very same over a
// line of its own.
#pragma once

#include "qvemu/cable_transport.h"
#include "qvemu/device.h"
#include "qvemu/device_link.h"
#include "qvemu/line.h"
#include "qvemu/options.h"
#include "qvemu/relay_transport.h"
#include "qvemu/storage.h"
#include "qvemu/trace.h"

namespace qvemu {

class Emulator {
 public:
  // line, trace, storage and options must outlive the emulator.
  Emulator(Line& line, Trace& trace, const Storage& storage, const Options& options)
      : cable_(line),
        relay_(line, trace, options.relay_faults),
        link_(options.relay ? static_cast<Transport&>(relay_) : cable_, trace, options.faults.silent_after),
        device_(link_, storage, options.faults) {}
  Emulator(const Emulator&) = delete;
  Emulator& operator=(const Emulator&) = delete;

  Device& device() { return device_; }

 private:
  CableTransport cable_;
  RelayTransport relay_;
  DeviceLink link_;
  Device device_;
};

}  // namespace qvemu
