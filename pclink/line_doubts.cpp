// The run's count of doubts about the line.
#include "pclink/line_doubts.h"

namespace {

long doubts = 0;
long damaged = 0;
long refused = 0;

}  // namespace

void note_line_doubt() {
  ++doubts;
}

long line_doubts() {
  return doubts;
}

void reset_line_doubts() {
  doubts = 0;
  damaged = 0;
  refused = 0;
}

void note_damaged_arrival() {
  ++damaged;
}

long damaged_arrivals() {
  return damaged;
}

void note_refused_packet() {
  ++refused;
}

long refused_packets() {
  return refused;
}
