// How the engine waits for a modem: CPU used while a modem takes 2 s to
// answer, the time from the modem's final byte to the call's return, and a
// large reply that trickles in 16 bytes at a time (time must grow linearly
// with its size).
//
// The first two run over a real pseudo-terminal (pty_modem.h); the chunked
// reply runs over the scripted port, which hands out exactly one 16-byte
// chunk per read, so nothing but the engine's own work is measured.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "modemsim/inbox.h"
#include "modemsim/message_store.h"
#include "pty_modem.h"
#include "testing/fake_clock.h"
#include "testing/memory_registry.h"
#include "testing/scripted_port.h"

namespace tarvex::bench {
namespace {

using std::chrono::steady_clock;

// A USSD request whose answer comes 2 s after the modem's OK: the engine
// should sleep on the port, not spin.  Target: under 1% of one core.
void BM_WaitForSlowAnswerCpu(benchmark::State& state) {
  modemsim::ModemOptions options;
  options.ussd_delay_ms = 2000;
  PtyModem modem(options);
  EngineOnPty on(modem);
  double engine_cpu = 0, process_cpu = 0, wall = 0;
  for (auto _ : state) {
    const auto w0 = steady_clock::now();
    const double c0 = ThreadCpuSeconds(), p0 = ProcessCpuSeconds();
    const std::string answer = on.engine().SendCommand(1, "*100#", 10000);
    engine_cpu += ThreadCpuSeconds() - c0;
    process_cpu += ProcessCpuSeconds() - p0;
    wall += std::chrono::duration<double>(steady_clock::now() - w0).count();
    if (answer == "TIMEOUT" || answer == "ERROR") state.SkipWithError("no USSD answer");
  }
  state.counters["wall_s_per_call"] = wall / static_cast<double>(state.iterations());
  state.counters["engine_cpu_pct_of_core"] = 100.0 * engine_cpu / wall;
  state.counters["process_cpu_pct_of_core"] = 100.0 * process_cpu / wall;
}
BENCHMARK(BM_WaitForSlowAnswerCpu)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// From the modem's last write to DeviceModel's return.  Target: median < 1 ms.
// The modem answers 30 ms late so that the answer lands while the engine
// waits on the port, not during the documented 10 ms pause after a command.
void BM_FinalByteToReturn(benchmark::State& state) {
  modemsim::ModemOptions options;
  options.faults.delay_ms = 30;
  PtyModem modem(options);
  EngineOnPty on(modem);
  std::vector<double> micros;
  for (auto _ : state) {
    const std::string model = on.engine().DeviceModel(1);
    const auto back = steady_clock::now();
    micros.push_back(std::chrono::duration<double, std::micro>(back - modem.last_write()).count());
    benchmark::DoNotOptimize(model);
  }
  std::sort(micros.begin(), micros.end());
  state.counters["median_us"] = micros[micros.size() / 2];
  state.counters["p90_us"] = micros[micros.size() * 9 / 10];
  state.counters["max_us"] = micros.back();
}
BENCHMARK(BM_FinalByteToReturn)->Iterations(300)->Unit(benchmark::kMicrosecond)->UseRealTime();

// A listing reply of about `bytes` bytes, as a modem sends it.
std::string ListingReply(size_t bytes) {
  const std::vector<modemsim::StoredMessage> pdus = modemsim::GenerateInbox(64);
  std::string reply = "\r\n";
  for (int index = 1; reply.size() < bytes; ++index) {
    const std::string& pdu = pdus[static_cast<size_t>(index) % pdus.size()].pdu;
    reply += "+CMGL: " + std::to_string(index) + ",1,," +
             std::to_string(modemsim::TpduLength(pdu)) + "\r\n" + pdu + "\r\n";
  }
  return reply + "\r\nOK\r\n";
}

void BM_ReplyInSixteenByteChunks(benchmark::State& state) {
  const std::string reply = ListingReply(static_cast<size_t>(state.range(0)));
  const auto entries = static_cast<int32_t>(std::count(reply.begin(), reply.end(), '+'));

  testing::FakeClock clock;
  testing::MemoryRegistry registry;
  registry.PutString(kRegLocalMachine, "SOFTWARE\\Clients\\Route", "dvp1", "1");
  registry.PutString(kRegLocalMachine, "SOFTWARE\\Clients\\Route", "dvb1", "115200");
  Tarvex::Ports ports;
  for (auto& p : ports) p = std::make_unique<testing::ScriptedPort>(&clock);
  auto* port = static_cast<testing::ScriptedPort*>(ports[1].get());
  Tarvex engine(std::move(ports), clock, registry);
  for (const char* command : {"ATE0\r", "AT+CMGF=0\r", "AT+CMEE=0\r"}) {
    port->Expect(command).Reply("\r\nOK\r\n");
  }
  if (!engine.DeviceOpen(1)) {
    state.SkipWithError("DeviceOpen failed on the scripted port");
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    port->ClearLog();
    port->Expect("AT+CMGL=4\r").ReplyInChunks(reply, 16);
    state.ResumeTiming();
    const Collection<std::string> listed = engine.ReadMessage(1, 4);
    if (listed.Count() != entries) state.SkipWithError("listing came back incomplete");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * reply.size()));
  state.SetComplexityN(state.range(0));
  state.counters["entries"] = entries;
}
BENCHMARK(BM_ReplyInSixteenByteChunks)
    ->Arg(100 << 10)
    ->Arg(1 << 20)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarvex::bench
