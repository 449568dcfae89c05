// The run's report: a human summary (scenario, arrivals and chats, messages
// and their delivery latency per direction, errors by kind, what the hosts
// and the database spent) and RESULT|row|what|figure|reference|ratio|goal
// lines for bench/run.sh's table.
#pragma once

#include <ostream>
#include <string>

#include "bench/chat_load/load_run.h"
#include "bench/chat_load/usage_watch.h"

namespace chatload {

struct MachineLoad {
  std::string at_start;  // /proc/loadavg's first three fields
  std::string at_end;
};

// Writes the report; returns the exit status: 0 when nothing failed and
// every stored message that had an open window to reach was seen, else 1.
int WriteReport(std::ostream& out, LoadRun& run, const UsageWatch& usage, const MachineLoad& load);

std::string LoadAverage();

}  // namespace chatload
