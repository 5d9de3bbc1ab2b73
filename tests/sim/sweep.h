// The sweep: every conversation on every line with every file size, and
// every single fault at every byte in both directions, each case judged
// whole, loud, silent or hang; or a seeded sample of it, or random
// double faults.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sim/conversations.h"

namespace sim {

// The faults tried at each byte: the 8 bit flips, a drop, a double, 13
// insertions of 1 to 8 bytes (each control byte alone, a doubled ACK, the
// starts of a relay block, control block and frame, an empty Packet 1),
// and pauses of 0.1, 1.5 and 12 s.
const std::vector<Fault>& faults_at_each_byte();

// One conversation on one line with one size, and how many bytes its clean
// run sends each way: the bytes the faults strike.
struct Setting {
  Conversation conversation;
  LineKind line;
  int size;
  long bytes[2];  // to the device, to the host
  Outcome clean;
};

// Runs every setting once without faults. Only the given conversations and
// lines (all when empty).
std::vector<Setting> clean_settings(const std::vector<Conversation>& conversations,
                                    const std::vector<LineKind>& lines);

// The single-fault cases of a setting, in order; count and the index-th.
long single_fault_count(const Setting& setting);
Case single_fault_case(const Setting& setting, long index);

struct Tally {
  long whole = 0, loud = 0, silent = 0, hang = 0;
  void add(Verdict verdict);
  long total() const { return whole + loud + silent + hang; }
};

// Rows of the table: conversation x line, in the order of the lists.
using Table = std::map<std::pair<int, int>, Tally>;

// The table as text: one row per conversation and line, totals, and the
// share of cases that ended whole.
std::string table_text(const Table& table);

// Runs cases in workers processes at once (1: in this process) and adds
// each verdict to the table; on_failure hears every silent or hung case,
// and every loud one too with report_loud. cases yields the index-th case,
// of count.
void run_cases(long count, const std::function<Case(long)>& cases, int workers, Table& table,
               const std::function<void(const Case&, const Outcome&)>& on_failure, bool report_loud = false);

}  // namespace sim
