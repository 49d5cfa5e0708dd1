// The XML bindings: parse of a buddy (resource-lists) document of 2000 entries into the
// generated classes, the way the XCAP client reads it (from a string stream, the library's
// parse flags), after Xerces was started once for the process.
#include <benchmark/benchmark.h>

#include <memory>
#include <sstream>
#include <string>

#include "BenchSupport.h"
#include "bindings/XcapNamespaces.h"
#include "bindings/resource-lists.hxx"

namespace {

const int kEntries = 2000;

std::size_t countEntries(const Xcap_ResourceLists::listType& list) {
  std::size_t n = list.entry().size();
  for (const Xcap_ResourceLists::listType& inner : list.list()) n += countEntries(inner);
  return n;
}

void BM_Xml_ParseResourceLists2000(benchmark::State& state) {
  Xcap_Bindings::initialize();
  const std::string text = pwbench::resourceListsDocument(kEntries);
  std::size_t entries = 0;
  try {
    for (auto _ : state) {
      std::istringstream is(text);
      std::unique_ptr<Xcap_ResourceLists::resource_lists> doc(
          Xcap_ResourceLists::resource_lists_(is, Xcap_Bindings::PARSE_FLAGS, xml_schema::properties()));
      entries = 0;
      for (const Xcap_ResourceLists::listType& list : doc->list()) entries += countEntries(list);
    }
  } catch (const xml_schema::exception& e) {
    state.SkipWithError(e.what());
    return;
  }
  if (entries != static_cast<std::size_t>(kEntries)) {
    state.SkipWithError("the document did not give its entries");
    return;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kEntries));
  state.counters["doc_bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_Xml_ParseResourceLists2000)->Unit(benchmark::kMillisecond);

}  // namespace
