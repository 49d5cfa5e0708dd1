// The local protocol codec: encode and decode of a full "setSelectedAddr" (50 addresses in
// each of to, cc and bcc, GBK display names), and a stream of mixed units that arrives split
// at random points and goes through a receive buffer the way the desktop's connection
// handler keeps it (starts at 4096 bytes, doubles when full, decodes every whole unit after
// each read, then crunches).
#include <benchmark/benchmark.h>

#include <ace/Message_Block.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "bridge/PW_Message.h"
#include "util/CodingTransform.h"

namespace {

// 50 GBK addresses joined with ";", as the desktop joins a picked list.
std::string addressList(int first) {
  std::string joined;
  for (int i = first; i < first + 50; ++i) {
    if (!joined.empty()) joined += ";";
    joined += "\"" + CodingTransform::utf8_to_gb2312(pwbench::chineseName(i)) + "\" <user" + std::to_string(i) +
              "@corp.example.com>";
  }
  return joined;
}

PW_Message selectedAddr(int seed) {
  PW_Message m;
  m.setCommand("setSelectedAddr");
  m.setField("to", addressList(seed));
  m.setField("cc", addressList(seed + 50));
  m.setField("bcc", addressList(seed + 100));
  m.setField("handle", std::to_string(655360 + seed));
  return m;
}

std::string wire(const PW_Message& m) {
  ACE_Message_Block mb;
  if (m.encode(mb) != 0) return std::string();
  return std::string(mb.rd_ptr(), mb.length());
}

void BM_Message_EncodeSetSelectedAddr(benchmark::State& state) {
  const PW_Message m = selectedAddr(0);
  ACE_Message_Block mb;
  std::size_t bytes = 0;
  for (auto _ : state) {
    if (m.encode(mb) != 0) {
      state.SkipWithError("encode failed");
      break;
    }
    bytes = mb.length();
    benchmark::DoNotOptimize(mb.rd_ptr());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.counters["unit_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_Message_EncodeSetSelectedAddr);

void BM_Message_DecodeSetSelectedAddr(benchmark::State& state) {
  const std::string unit = wire(selectedAddr(0));
  ACE_Message_Block mb(unit.size());
  mb.copy(unit.data(), unit.size());
  for (auto _ : state) {
    PW_Message m;
    std::size_t consumed = 0;
    if (m.decode(mb, consumed) != PW_Message::DECODE_OK || consumed != unit.size()) {
      state.SkipWithError("decode failed");
      break;
    }
    benchmark::DoNotOptimize(m.getFields().size());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * unit.size()));
  state.counters["unit_bytes"] = static_cast<double>(unit.size());
}
BENCHMARK(BM_Message_DecodeSetSelectedAddr);

// 200 units: requests of the hook library and replies of the desktop program, mixed.
std::string mixedStream(int& units) {
  std::string stream;
  units = 0;
  for (int i = 0; i < 200; ++i, ++units) {
    PW_Message m;
    switch (i % 4) {
      case 0:
        m = selectedAddr(i);
        break;
      case 1:
        m.setCommand("showAddrDialog");
        m.setField("handle", std::to_string(655360 + i));
        m.setField("to", addressList(i).substr(0, 300));
        m.setField("cc", "");
        m.setField("bcc", "");
        break;
      case 2:
        m.setCommand("showAttachDialog");
        m.setField("handle", std::to_string(655360 + i));
        break;
      default:
        m.setCommand("setAttachment");
        m.setField("AttachUrl", "");
        m.setField("handle", std::to_string(655360 + i));
        break;
    }
    stream += wire(m);
  }
  return stream;
}

void BM_Message_StreamRandomSplit(benchmark::State& state) {
  int units = 0;
  const std::string stream = mixedStream(units);
  // Read sizes from 1 to 2048 bytes, the same for every run.
  std::vector<std::size_t> reads;
  std::mt19937 random(20261210);
  std::uniform_int_distribution<std::size_t> size(1, 2048);
  for (std::size_t at = 0; at < stream.size();) {
    std::size_t n = std::min(size(random), stream.size() - at);
    reads.push_back(n);
    at += n;
  }
  for (auto _ : state) {
    std::unique_ptr<ACE_Message_Block> buffer(new ACE_Message_Block(4096));
    std::size_t at = 0;
    int decoded = 0;
    bool bad = false;
    for (std::size_t r = 0; r < reads.size() && !bad; ++r) {
      std::size_t left = reads[r];
      while (left > 0 && !bad) {
        if (buffer->space() == 0) buffer->size(buffer->size() * 2);
        std::size_t n = std::min(left, buffer->space());
        buffer->copy(stream.data() + at, n);
        at += n;
        left -= n;
        for (;;) {
          PW_Message m;
          std::size_t consumed = 0;
          int result = m.decode(*buffer, consumed);
          if (result == PW_Message::DECODE_INCOMPLETE) break;
          if (result != PW_Message::DECODE_OK) {
            bad = true;
            break;
          }
          benchmark::DoNotOptimize(m.getField("handle"));
          ++decoded;
          buffer->rd_ptr(consumed);
        }
        buffer->crunch();
      }
    }
    if (bad || decoded != units) {
      state.SkipWithError("the stream did not decode into its units");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * units));
  state.counters["reads"] = static_cast<double>(reads.size());
}
BENCHMARK(BM_Message_StreamRandomSplit);

}  // namespace
