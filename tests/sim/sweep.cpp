#include "sim/sweep.h"

#include "sim/conversation_runs.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <stdexcept>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace sim {

namespace {

Fault kind_of_fault(FaultKind kind, int value, Bytes inserted = {}) {
  Fault fault;
  fault.kind = kind;
  fault.bit = kind == FaultKind::flip ? value : 0;
  fault.pause_ms = kind == FaultKind::pause ? value : 0;
  fault.inserted = std::move(inserted);
  return fault;
}

}  // namespace

const std::vector<Fault>& faults_at_each_byte() {
  static const std::vector<Fault> menu = [] {
    std::vector<Fault> faults;
    for (int bit = 0; bit < 8; ++bit) faults.push_back(kind_of_fault(FaultKind::flip, bit));
    faults.push_back(kind_of_fault(FaultKind::drop, 0));
    faults.push_back(kind_of_fault(FaultKind::twice, 0));
    const std::vector<Bytes> insertions = {
        {0x01}, {0x04}, {0x05}, {0x06}, {0x15}, {0x18},          // each control byte
        {0x06, 0x06},                                            // a doubled ACK
        {0x00, 0x00, 0x96},                                      // a relay block start
        {0x00, 0x00, 0x96, 0x82},                                // a control block
        {0x00, 0x00, 0x96, 0x82, 0x06},                          // the relay ACK block
        {0x04, 0x05, 0x06, 0x15, 0x18, 0x01},                    // control bytes in a row
        {0x01, 0x01, 0xFE, 0x00, 0x00, 0x00, 0x00},              // an empty Packet 1
        {0x00, 0x00, 0x00, 0x96, 0x81, 0x10, 0xFF, 0xFF},        // a relay frame's start
    };
    for (const Bytes& inserted : insertions) faults.push_back(kind_of_fault(FaultKind::insert, 0, inserted));
    for (int pause_ms : {100, 1500, 12000}) faults.push_back(kind_of_fault(FaultKind::pause, pause_ms));
    return faults;
  }();
  return menu;
}

std::vector<Setting> clean_settings(const std::vector<Conversation>& conversations,
                                    const std::vector<LineKind>& lines) {
  std::vector<Setting> settings;
  for (Conversation conversation : conversations.empty() ? all_conversations() : conversations) {
    for (LineKind line : lines.empty() ? all_lines() : lines) {
      for (int size : sizes_of(conversation)) {
        Setting setting{conversation, line, size, {0, 0}, {}};
        setting.clean = run_case(make_case(conversation, line, size));
        setting.bytes[0] = setting.clean.sent[0];
        setting.bytes[1] = setting.clean.sent[1];
        settings.push_back(setting);
      }
    }
  }
  return settings;
}

long single_fault_count(const Setting& setting) {
  return (setting.bytes[0] + setting.bytes[1]) * static_cast<long>(faults_at_each_byte().size());
}

Case single_fault_case(const Setting& setting, long index) {
  const long kinds = static_cast<long>(faults_at_each_byte().size());
  Fault fault = faults_at_each_byte()[static_cast<std::size_t>(index % kinds)];
  long byte = index / kinds;
  fault.direction = byte < setting.bytes[0] ? Direction::to_device : Direction::to_host;
  fault.index = byte < setting.bytes[0] ? byte : byte - setting.bytes[0];
  return make_case(setting.conversation, setting.line, setting.size, {fault});
}

void Tally::add(Verdict verdict) {
  switch (verdict) {
    case Verdict::whole: ++whole; break;
    case Verdict::loud: ++loud; break;
    case Verdict::silent: ++silent; break;
    case Verdict::hang: ++hang; break;
  }
}

namespace {

double share_whole(const Tally& tally) {
  return tally.total() > 0 ? 100.0 * static_cast<double>(tally.whole) / static_cast<double>(tally.total()) : 0.0;
}

}  // namespace

std::string table_text(const Table& table) {
  std::string text;
  char line[160];
  std::snprintf(line, sizeof line, "%-10s %-11s %9s %9s %7s %7s %8s\n", "conversation", "line", "whole", "loud",
                "silent", "hang", "whole %");
  text += line;
  Tally total;
  for (const auto& [row, tally] : table) {
    std::snprintf(line, sizeof line, "%-12s %-11s %9ld %9ld %7ld %7ld %8.2f\n",
                  conversation_name(static_cast<Conversation>(row.first)).c_str(),
                  line_name(static_cast<LineKind>(row.second)).c_str(), tally.whole, tally.loud, tally.silent,
                  tally.hang, share_whole(tally));
    text += line;
    total.whole += tally.whole;
    total.loud += tally.loud;
    total.silent += tally.silent;
    total.hang += tally.hang;
  }
  std::snprintf(line, sizeof line, "%-12s %-11s %9ld %9ld %7ld %7ld %8.2f\n", "total", "", total.whole, total.loud,
                total.silent, total.hang, share_whole(total));
  text += line;
  std::snprintf(line, sizeof line, "cases %ld, whole %.2f%%\n", total.total(), share_whole(total));
  text += line;
  return text;
}

namespace {

// A case whose sides spin without waiting for anything never reaches the
// virtual hang time; the watchdog names it after this much real time and
// ends the process, so that a sweep stops instead of stalling unseen.
constexpr unsigned watchdog_seconds = 60;
int watchdog_fd = -1;
char watchdog_line[512];
std::size_t watchdog_length = 0;

void on_watchdog(int) {
  ssize_t written = write(watchdog_fd, watchdog_line, watchdog_length);
  (void)written;  // nothing more can be done in a dying process
  _exit(3);
}

void watch(const Case& c) {
  if (watchdog_fd < 0) {
    watchdog_fd = dup(STDERR_FILENO);
    std::signal(SIGALRM, on_watchdog);
  }
  const int length = std::snprintf(watchdog_line, sizeof watchdog_line,
                                   "qvsim: no end after %u s of real time, the sides spin: %s\n", watchdog_seconds,
                                   describe_case(c).c_str());
  watchdog_length = length < 0 ? 0 : std::min(static_cast<std::size_t>(length), sizeof watchdog_line - 1);
  alarm(watchdog_seconds);
}

bool reported(Verdict verdict, bool report_loud) {
  return verdict == Verdict::silent || verdict == Verdict::hang || (report_loud && verdict == Verdict::loud);
}

std::pair<int, int> row_of(const Case& c) {
  return {static_cast<int>(c.conversation), static_cast<int>(c.line)};
}

// A worker's report, one line each: "F <verdict>\t<case>\t<why>" for a
// failure as it happens, "T <conversation> <line> <whole> <loud> <silent>
// <hang>" for its table at the end.
void work(long first, long step, long count, const std::function<Case(long)>& cases, int report, bool report_loud) {
  Table table;
  std::FILE* out = fdopen(report, "w");
  for (long index = first; index < count; index += step) {
    const Case c = cases(index);
    watch(c);
    const Outcome outcome = run_case(c);
    table[row_of(c)].add(outcome.verdict);
    if (reported(outcome.verdict, report_loud)) {
      std::fprintf(out, "F %s\t%s\t%s\n", verdict_name(outcome.verdict).c_str(), describe_case(c).c_str(),
                   outcome.why.c_str());
      std::fflush(out);
    }
  }
  for (const auto& [row, tally] : table) {
    std::fprintf(out, "T %d %d %ld %ld %ld %ld\n", row.first, row.second, tally.whole, tally.loud, tally.silent,
                 tally.hang);
  }
  std::fclose(out);
}

void take_report_line(const std::string& text, Table& table,
                      const std::function<void(const Case&, const Outcome&)>& on_failure) {
  if (text.rfind("T ", 0) == 0) {
    std::istringstream fields(text.substr(2));
    int conversation = 0, line = 0;
    Tally tally;
    fields >> conversation >> line >> tally.whole >> tally.loud >> tally.silent >> tally.hang;
    Tally& sum = table[{conversation, line}];
    sum.whole += tally.whole;
    sum.loud += tally.loud;
    sum.silent += tally.silent;
    sum.hang += tally.hang;
    return;
  }
  const std::size_t first_tab = text.find('\t');
  const std::size_t second_tab = text.find('\t', first_tab + 1);
  if (text.rfind("F ", 0) != 0 || second_tab == std::string::npos) return;
  const std::optional<Case> c = parse_case(text.substr(first_tab + 1, second_tab - first_tab - 1));
  if (!c) return;
  Outcome outcome;
  const std::string verdict = text.substr(2, first_tab - 2);
  outcome.verdict = verdict == "hang" ? Verdict::hang : verdict == "loud" ? Verdict::loud : Verdict::silent;
  outcome.why = text.substr(second_tab + 1);
  on_failure(*c, outcome);
}

}  // namespace

void run_cases(long count, const std::function<Case(long)>& cases, int workers, Table& table,
               const std::function<void(const Case&, const Outcome&)>& on_failure, bool report_loud) {
  if (workers <= 1) {
    for (long index = 0; index < count; ++index) {
      const Case c = cases(index);
      watch(c);
      const Outcome outcome = run_case(c);
      table[row_of(c)].add(outcome.verdict);
      if (reported(outcome.verdict, report_loud)) on_failure(c, outcome);
    }
    alarm(0);
    return;
  }
  std::fflush(stdout);
  std::fflush(stderr);
  std::vector<pollfd> reports;
  std::vector<std::string> pending;
  std::vector<pid_t> children;
  for (int worker = 0; worker < workers; ++worker) {
    int ends[2];
    if (pipe(ends) != 0) break;
    const pid_t child = fork();
    if (child == 0) {
      close(ends[0]);
      renew_workspace();
      work(worker, workers, count, cases, ends[1], report_loud);
      remove_workspace();
      _exit(0);
    }
    close(ends[1]);
    reports.push_back({ends[0], POLLIN, 0});
    pending.emplace_back();
    children.push_back(child);
  }
  for (std::size_t open = reports.size(); open > 0;) {
    if (poll(reports.data(), reports.size(), -1) < 0) continue;
    for (std::size_t i = 0; i < reports.size(); ++i) {
      if (reports[i].fd < 0 || reports[i].revents == 0) continue;
      char block[4096];
      const ssize_t got = read(reports[i].fd, block, sizeof block);
      if (got <= 0) {
        close(reports[i].fd);
        reports[i].fd = -1;
        --open;
        continue;
      }
      pending[i].append(block, static_cast<std::size_t>(got));
      for (std::size_t end; (end = pending[i].find('\n')) != std::string::npos;) {
        take_report_line(pending[i].substr(0, end), table, on_failure);
        pending[i].erase(0, end + 1);
      }
    }
  }
  for (pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      throw std::runtime_error("a worker of the sweep stopped before its end; its cases are not all counted");
    }
  }
}

}  // namespace sim
