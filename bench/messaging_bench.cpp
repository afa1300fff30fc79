// Sending and listing through the simulator on a pseudo-terminal: messages
// per second and CPU per message for 100 sends; time, CPU and peak heap for
// listing (and decoding, as `tarvex list` does) an inbox of 100 and of 1000
// messages.  Ten times the messages should cost about ten times as much.
//
// Peak heap is counted by this binary's operator new, per thread, so the
// simulator thread's own allocations do not blur the engine's.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <chrono>
#include <cstdlib>
#include <new>
#include <string>

#include "modemsim/inbox.h"
#include "pty_modem.h"
#include "tarvex/sms_deliver.h"

namespace {

thread_local int64_t t_heap_now = 0;
thread_local int64_t t_heap_peak = 0;

void* Allocate(size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  t_heap_now += static_cast<int64_t>(malloc_usable_size(p));
  t_heap_peak = std::max(t_heap_peak, t_heap_now);
  return p;
}

void Release(void* p) {
  if (!p) return;
  t_heap_now -= static_cast<int64_t>(malloc_usable_size(p));
  std::free(p);
}

}  // namespace

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }

namespace tarvex::bench {
namespace {

using std::chrono::steady_clock;

void BM_Send100Messages(benchmark::State& state) {
  PtyModem modem(modemsim::ModemOptions{});
  EngineOnPty on(modem);
  constexpr int kMessages = 100;
  double cpu = 0, wall = 0;
  for (auto _ : state) {
    const auto w0 = steady_clock::now();
    const double c0 = ThreadCpuSeconds();
    for (int i = 0; i < kMessages; ++i) {
      std::u16string text =
          u"Benchmark message " + std::u16string(1, static_cast<char16_t>(u'A' + i % 26));
      if (on.engine().SendMessage(1, "+31612345678", text) != "OK") {
        state.SkipWithError("a send failed");
        return;
      }
    }
    cpu += ThreadCpuSeconds() - c0;
    wall += std::chrono::duration<double>(steady_clock::now() - w0).count();
  }
  const double sent = static_cast<double>(state.iterations() * kMessages);
  state.counters["msgs_per_s"] = sent / wall;
  state.counters["cpu_us_per_msg"] = 1e6 * cpu / sent;
  state.counters["wall_ms_per_msg"] = 1e3 * wall / sent;
}
BENCHMARK(BM_Send100Messages)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ListAndDecodeInbox(benchmark::State& state) {
  const auto count = static_cast<int>(state.range(0));
  PtyModem modem(modemsim::ModemOptions{}, modemsim::GenerateInbox(count));
  EngineOnPty on(modem);
  double cpu = 0, wall = 0;
  int64_t peak = 0;
  for (auto _ : state) {
    const int64_t base = t_heap_now;
    t_heap_peak = base;
    const auto w0 = steady_clock::now();
    const double c0 = ThreadCpuSeconds();
    int decoded = 0;
    {
      const Collection<std::string> entries = on.engine().ReadMessage(1, 4);
      for (const std::string& entry : entries) {
        SMSDeliver message;
        std::string argument = entry;
        message.Decode(argument);
        decoded += message.MessageText().empty() ? 0 : 1;
      }
    }
    cpu += ThreadCpuSeconds() - c0;
    wall += std::chrono::duration<double>(steady_clock::now() - w0).count();
    peak = std::max(peak, t_heap_peak - base);
    if (decoded != count) state.SkipWithError("the listing came back incomplete");
  }
  state.SetComplexityN(count);
  state.counters["cpu_ms"] = 1e3 * cpu / static_cast<double>(state.iterations());
  state.counters["peak_heap_kb"] = static_cast<double>(peak) / 1024.0;
  state.counters["wall_us_per_msg"] =
      1e6 * wall / static_cast<double>(state.iterations()) / static_cast<double>(count);
}
BENCHMARK(BM_ListAndDecodeInbox)
    ->Arg(100)
    ->Arg(1000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace tarvex::bench
