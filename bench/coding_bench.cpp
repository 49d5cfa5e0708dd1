// Text coding on 10 KiB address-book texts with Chinese: percent-encoding of UTF-8 (form mode,
// as query values and protocol fields are written) and of GBK text, decoding it back, and the
// GBK <-> UTF-8 conversions through iconv.
#include <benchmark/benchmark.h>

#include <string>

#include "BenchSupport.h"
#include "util/CodingTransform.h"

namespace {

const std::size_t kTextBytes = 10 * 1024;

const std::string& utf8Text() {
  static const std::string text = pwbench::chineseText(kTextBytes);
  return text;
}

const std::string& gbkText() {
  static const std::string text = CodingTransform::utf8_to_gb2312(utf8Text());
  return text;
}

template <typename Op>
void run(benchmark::State& state, const std::string& input, Op op) {
  for (auto _ : state) {
    std::string out = op(input);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
  state.counters["input_bytes"] = static_cast<double>(input.size());
}

void BM_Coding_UrlencodeUtf8(benchmark::State& state) {
  run(state, utf8Text(), [](const std::string& s) { return CodingTransform::urlencode(s, true, false); });
}
BENCHMARK(BM_Coding_UrlencodeUtf8);

void BM_Coding_UrlencodeGbk(benchmark::State& state) {
  run(state, gbkText(), [](const std::string& s) { return CodingTransform::urlencode(s, true, false); });
}
BENCHMARK(BM_Coding_UrlencodeGbk);

void BM_Coding_UrldecodeUtf8(benchmark::State& state) {
  const std::string encoded = CodingTransform::urlencode(utf8Text(), true, false);
  if (CodingTransform::urldecode(encoded) != utf8Text()) {
    state.SkipWithError("urldecode does not give the text back");
    return;
  }
  run(state, encoded, [](const std::string& s) { return CodingTransform::urldecode(s); });
}
BENCHMARK(BM_Coding_UrldecodeUtf8);

void BM_Coding_Gb2312ToUtf8(benchmark::State& state) {
  if (CodingTransform::gb2312_to_utf8(gbkText()) != utf8Text()) {
    state.SkipWithError("the text does not convert both ways");
    return;
  }
  run(state, gbkText(), [](const std::string& s) { return CodingTransform::gb2312_to_utf8(s); });
}
BENCHMARK(BM_Coding_Gb2312ToUtf8);

void BM_Coding_Utf8ToGb2312(benchmark::State& state) {
  run(state, utf8Text(), [](const std::string& s) { return CodingTransform::utf8_to_gb2312(s); });
}
BENCHMARK(BM_Coding_Utf8ToGb2312);

}  // namespace
