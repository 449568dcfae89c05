#include "bench/chat_load/report.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace chatload {
namespace {

std::string Format(const char* format, double a, double b = 0, double c = 0, double d = 0) {
  char text[160];
  std::snprintf(text, sizeof text, format, a, b, c, d);
  return text;
}

double Mib(uint64_t kib) { return static_cast<double>(kib) / 1024.0; }

std::string Scenario(const Options& o, const RunCounts& counts) {
  std::ostringstream s;
  s << "scenario: " << o.hosts.size() << " host(s) (";
  for (size_t i = 0; i < o.hosts.size(); ++i)
    s << (i ? ", " : "") << o.hosts[i].address << ":" << o.hosts[i].port;
  s << "), " << o.duration << " s + " << o.drain << " s drain, " << o.arrival_rate
    << " visitors/s (Poisson, at most " << o.max_visitors << "), chat share " << o.chat_share
    << ", message interval " << o.message_interval << " s (x0.5-1.5), "
    << (o.chat_messages ? std::to_string(o.chat_messages) : std::string("unlimited"))
    << " visitor messages per chat, " << o.pages << " pages per browsing visitor every "
    << o.page_interval << " s, " << o.operators.size() << " operators ("
    << counts.operators_logged_in << " logged in), console refresh " << o.console_refresh
    << " s, " << (o.operator_windows ? std::to_string(o.operator_windows) : std::string("unlimited"))
    << " windows per operator, writer share " << o.writer_share << ", "
    << (o.poll_wait ? "long polls wait=" + std::to_string(o.poll_wait) : "plain polls every 2 s")
    << ", seed " << o.seed << "\n";
  return s.str();
}

std::string LatencyRow(const char* name, Latencies& l) {
  char text[200];
  std::snprintf(text, sizeof text, "  %-44s %9.1f %9.1f %9.1f %9.1f  %zu\n", name,
                l.Percentile(50), l.Percentile(90), l.Percentile(99), l.Max(), l.Count());
  return text;
}

}  // namespace

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string a, b, c;
  in >> a >> b >> c;
  return a + " " + b + " " + c;
}

int WriteReport(std::ostream& out, LoadRun& run, const UsageWatch& usage, const MachineLoad& load) {
  const Options& o = run.options();
  const RunCounts& counts = run.counts();
  DeliveryBook& book = run.book();
  const auto& m = book.counts();
  const double load_seconds = std::max(run.LoadSeconds(), 1e-9);
  const uint64_t delivered = m.delivered[0] + m.delivered[1];
  const uint64_t stored = m.posted[0] + m.posted[1];
  const DeliveryBook::Unseen unseen =
      book.CountUnseen([&run](long cid) { return run.Attended(cid); });
  uint64_t errors = 0;
  for (const auto& [kind, count] : counts.errors) errors += count;

  out << "== chat load: " << o.label << "\n" << Scenario(o, counts);
  out << "machine: " << sysconf(_SC_NPROCESSORS_ONLN) << " cores, load average " << load.at_start
      << " at the start, " << load.at_end << " at the end\n";
  out << "visitors: " << counts.visitors << " arrived, " << counts.page_views << " page views, "
      << counts.chats_opened << " chats opened (" << counts.chats_ended << " ended by the visitor)"
      << Format(", held at once: max %.0f, mean %.1f\n", counts.max_open_chats,
                counts.open_chat_seconds / load_seconds);
  const char* names[2] = {"visitor -> operator", "operator -> visitor"};
  for (int d = 0; d < 2; ++d) {
    out << "messages " << names[d] << ": " << m.posted[d] << " stored, " << m.delivered[d]
        << " seen (" << m.picked_up[d] << " on opening the chat), " << m.failed[d]
        << " not stored\n";
  }
  out << Format("delivered: %.0f messages, %.2f/s over the %.0f s of load; stored but never seen: %.0f",
                delivered, delivered / load_seconds, load_seconds, unseen.attended);
  if (unseen.unattended)
    out << Format(" (and %.0f waiting for an operator: no window on their conversation)",
                  unseen.unattended);
  out << "\n";
  Latencies both = book.latency(kToOperator);
  both.Merge(book.latency(kToVisitor));
  char header[160];
  std::snprintf(header, sizeof header, "%-46s %9s %9s %9s %9s  %s\n",
                "delivery latency, post sent -> text seen (ms)", "median", "p90", "p99", "max",
                "samples");
  out << header
      << LatencyRow(names[0], book.latency(kToOperator))
      << LatencyRow(names[1], book.latency(kToVisitor)) << LatencyRow("both", both)
      << LatencyRow("chat pickup", run.chat_pickup())
      << "  (chat pickup: chat opened -> an operator's window on it opened; messages\n"
         "   seen on opening the chat are counted there, not as latency samples)\n";
  out << "polls: " << counts.polls << " (" << counts.polls_not_held
      << " answered at once without being held); TCP connections opened: " << counts.connections
      << "\n";
  out << "errors: " << errors << "\n";
  for (const auto& [kind, count] : counts.errors) out << "  " << count << "  " << kind << "\n";

  const double window = std::max(usage.seconds(), 1e-9);
  double host_cpu = 0;
  bool hosts_measured = !usage.hosts().empty();
  for (const HostUsage& host : usage.hosts()) {
    if (!host.measured) {
      hosts_measured = false;
      continue;
    }
    host_cpu += host.cpu_seconds;
    out << "host pid " << host.pid
        << Format(": CPU %.2f s (%.0f%% of one core), waited for a core %.2f s",
                  host.cpu_seconds, 100 * host.cpu_seconds / window, host.run_queue_seconds)
        << Format(", VmRSS max %.1f MiB, at the end %.1f MiB", Mib(host.rss_max_kib),
                  Mib(host.rss_end_kib))
        << Format(", VmHWM %.1f MiB", Mib(host.hwm_kib))
        << (delivered ? Format(", %.3f ms CPU per delivered message", 1000 * host.cpu_seconds / delivered)
                      : std::string())
        << "\n";
  }
  if (hosts_measured && delivered > 0)
    out << Format("hosts' CPU per delivered message: %.3f ms\n", 1000 * host_cpu / delivered);
  if (usage.statements())
    out << Format("database statements: %.0f (%.1f/s, %.1f per delivered message)",
                  *usage.statements(), *usage.statements() / window,
                  delivered ? static_cast<double>(*usage.statements()) / delivered : 0)
        << ", counted by " << usage.statements_source() << "\n";
  if (usage.database_cpu_seconds())
    out << Format("database server CPU: %.2f s (%.0f%% of one core), %.3f ms per delivered message\n",
                  *usage.database_cpu_seconds(), 100 * *usage.database_cpu_seconds() / window,
                  delivered ? 1000 * *usage.database_cpu_seconds() / delivered : 0);
  out << Format("load generator CPU: %.2f s (%.0f%% of one core) over %.0f s, waited for a core %.2f s\n",
                usage.own_cpu_seconds(), 100 * usage.own_cpu_seconds() / window, window,
                usage.own_run_queue_seconds());
  for (const std::string& note : usage.notes()) out << "not measured: " << note << "\n";

  // The table's rows.
  const std::string row = "RESULT|" + o.result_row + "|" + o.label + ": ";
  out << row << "message delivery p99, post to seen, both directions (median; p90; max)|"
      << Format("%.1f ms (%.1f; %.1f; %.1f)", both.Percentile(99), both.Percentile(50),
                both.Percentile(90), both.Max())
      << "|-|-|<250\n";
  out << row << "messages seen / stored (" << Format("%.1f/s", delivered / load_seconds) << ")|"
      << delivered << "|" << stored << "|"
      << Format("%.3f", stored ? static_cast<double>(delivered) / stored : 0) << "|>=1\n";
  out << row << "errors|" << errors << "|-|-|<1\n";
  out << row << "chats held at once (max; mean)|"
      << Format("%.0f; %.1f", counts.max_open_chats, counts.open_chat_seconds / load_seconds)
      << "|-|-|-\n";
  if (hosts_measured && delivered > 0) {
    uint64_t hwm = 0, rss = 0;
    for (const HostUsage& host : usage.hosts()) {
      hwm = std::max(hwm, host.hwm_kib);
      rss = std::max(rss, host.rss_max_kib);
    }
    out << row << "host CPU per delivered message (share of one core)|"
        << Format("%.3f ms (%.0f%%)", 1000 * host_cpu / delivered, 100 * host_cpu / window)
        << "|-|-|-\n";
    out << row << "host memory, largest VmHWM; VmRSS max during the run|"
        << Format("%.1f MiB; %.1f MiB", Mib(hwm), Mib(rss)) << "|-|-|-\n";
  }
  if (usage.statements() && delivered > 0)
    out << row << "database statements per delivered message (" << usage.statements_source()
        << ")|" << Format("%.1f (%.0f/s)", static_cast<double>(*usage.statements()) / delivered,
                          *usage.statements() / window)
        << "|-|-|-\n";
  if (usage.database_cpu_seconds() && delivered > 0)
    out << row << "database server CPU per delivered message|"
        << Format("%.3f ms", 1000 * *usage.database_cpu_seconds() / delivered) << "|-|-|-\n";
  return errors == 0 && unseen.attended == 0 ? 0 : 1;
}

}  // namespace chatload
