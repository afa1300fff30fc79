// PDU codec speed and allocations, each beside its floor measured in the same
// run: for decode, converting the same PDU's hex text to bytes; for encode,
// converting its bytes to hex text.  The aim is at most twice the floor.
//
// Allocations are counted by replacing the global operator new; the counter
// "allocs" is per PDU.  Decode reuses one SMSDeliver (as a listing loop does)
// and refills its entry string in place; "Fresh" variants make a new object
// every time.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "codec/deliver_builder.h"
#include "tarvex/sms_deliver.h"
#include "tarvex/sms_submit.h"

// GCC takes the malloc/free pair inside the replaced operators for a
// mismatch once they are inlined into their callers; they are a matched pair.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
size_t g_allocations = 0;
}  // namespace

void* operator new(size_t size) {
  ++g_allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace {

using tarvex::DeliverFields;

enum Message { kSeven160 = 0, kUcs2_70 = 1, kPart153 = 2 };

std::u16string TextOf(Message m) {
  switch (m) {
    case kSeven160: {
      std::u16string s;
      while (s.size() < 160) s += u"The quick brown fox jumps over the lazy dog. ";
      return s.substr(0, 160);
    }
    case kUcs2_70: {
      std::u16string s;
      while (s.size() < 70) s += u"\u0421\u044A\u0435\u0448\u044C \u0436\u0435 \u0435\u0449\u0451 ";
      return s.substr(0, 70);
    }
    default: {
      std::u16string s;
      while (s.size() < 153) s += u"Lorem ipsum dolor sit amet, consectetur adipiscing. ";
      return s.substr(0, 153);
    }
  }
}

std::string DeliverPdu(Message m) {
  DeliverFields fields;
  fields.text = TextOf(m);
  if (m == kPart153) fields.concat = DeliverFields::Concat{0x5A, 3, 1, false};
  return tarvex::BuildDeliverPdu(fields);
}

std::string SubmitPdu(Message m) {
  tarvex::SMSSubmit s;
  s.PhoneNumber = "+31612345678";
  s.MessageText = TextOf(m);
  return (m == kPart153 ? s.EncodeLongSMS("5A", 3, 1) : s.Encode()).hex;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The floor of decoding: hex text to the octets it names (checked, as any
// reader of modem output must).
std::vector<uint8_t> HexToBytes(const std::string& hex) {
  std::vector<uint8_t> out(hex.size() / 2);
  for (size_t i = 0; i < out.size(); ++i) {
    const int high = HexValue(hex[2 * i]);
    const int low = HexValue(hex[2 * i + 1]);
    if ((high | low) < 0) throw std::invalid_argument("hex");
    out[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return out;
}

// The floor of encoding: octets to hex text.
std::string BytesToHex(const std::vector<uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out(2 * bytes.size(), '\0');
  for (size_t i = 0; i < bytes.size(); ++i) {
    out[2 * i] = kDigits[bytes[i] >> 4];
    out[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  return out;
}

void Report(benchmark::State& state, size_t allocations) {
  state.counters["allocs"] =
      benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
  state.counters["pdus/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_DecodeFloor(benchmark::State& state) {
  const std::string pdu = DeliverPdu(static_cast<Message>(state.range(0)));
  const size_t before = g_allocations;
  for (auto _ : state) benchmark::DoNotOptimize(HexToBytes(pdu));
  Report(state, g_allocations - before);
}

void BM_Decode(benchmark::State& state) {
  const std::string entry = "12\r\n" + DeliverPdu(static_cast<Message>(state.range(0)));
  tarvex::SMSDeliver d;
  std::string argument;
  argument.reserve(entry.size());
  const size_t before = g_allocations;
  for (auto _ : state) {
    argument.assign(entry);
    d.Decode(argument);
    benchmark::DoNotOptimize(d.MessageText().data());
  }
  Report(state, g_allocations - before);
}

void BM_DecodeFresh(benchmark::State& state) {
  const std::string entry = "12\r\n" + DeliverPdu(static_cast<Message>(state.range(0)));
  const size_t before = g_allocations;
  for (auto _ : state) {
    std::string argument = entry;
    tarvex::SMSDeliver d;
    d.Decode(argument);
    benchmark::DoNotOptimize(d.MessageText().data());
  }
  Report(state, g_allocations - before);
}

void BM_EncodeFloor(benchmark::State& state) {
  const std::vector<uint8_t> bytes = HexToBytes(SubmitPdu(static_cast<Message>(state.range(0))));
  const size_t before = g_allocations;
  for (auto _ : state) benchmark::DoNotOptimize(BytesToHex(bytes));
  Report(state, g_allocations - before);
}

void BM_Encode(benchmark::State& state) {
  const auto m = static_cast<Message>(state.range(0));
  tarvex::SMSSubmit s;
  s.PhoneNumber = "+31612345678";
  s.MessageText = TextOf(m);
  const size_t before = g_allocations;
  for (auto _ : state) {
    benchmark::DoNotOptimize(m == kPart153 ? s.EncodeLongSMS("5A", 3, 1) : s.Encode());
  }
  Report(state, g_allocations - before);
}

// 0: 160-character 7-bit message, 1: 70-character UCS2, 2: 153-character part.
#define TARVEX_CODEC_BENCH(fn) BENCHMARK(fn)->Arg(kSeven160)->Arg(kUcs2_70)->Arg(kPart153)
TARVEX_CODEC_BENCH(BM_DecodeFloor);
TARVEX_CODEC_BENCH(BM_Decode);
TARVEX_CODEC_BENCH(BM_DecodeFresh);
TARVEX_CODEC_BENCH(BM_EncodeFloor);
TARVEX_CODEC_BENCH(BM_Encode);

}  // namespace
