// chat_load: a chat site's traffic against `zelto serve` hosts on this
// machine, for a bounded time, with a report of what got through, how fast,
// and at what cost. `chat_load --help` lists the scenario's options;
// bench/chat_load.sh sets up a host and runs the standard scenario.
#include <sys/resource.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <iostream>
#include <string>
#include <vector>

#include "bench/chat_load/load_run.h"
#include "bench/chat_load/options.h"
#include "bench/chat_load/report.h"
#include "bench/chat_load/usage_watch.h"

namespace {

// Thousands of held polls need as many descriptors: the hard limit.
void RaiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const auto parsed = chatload::ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.options) {
    if (parsed.error.empty()) {
      std::cout << chatload::Usage();
      return 0;
    }
    std::cerr << "chat_load: " << parsed.error << "\n";
    return 2;
  }
  RaiseDescriptorLimit();
  boost::asio::io_context io;
  chatload::LoadRun run(io, *parsed.options);
  chatload::UsageWatch usage(io, *parsed.options);
  chatload::MachineLoad load{chatload::LoadAverage(), ""};
  run.Start([&] { usage.Begin(); },
            [&] {
              usage.End();
              load.at_end = chatload::LoadAverage();
            },
            // Requests cut by the stop finish as aborted; then nothing is left.
            [&] { boost::asio::post(io, [&] { io.stop(); }); });
  io.run();
  return chatload::WriteReport(std::cout, run, usage, load);
}
