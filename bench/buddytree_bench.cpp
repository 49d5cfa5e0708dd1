// Corvane's buddy-tree mapping: the same 2000-entry document decoded by the resource-lists
// usage into the buddy tree and the buddy set (parse, walk, and every text converted to GBK as
// the desktop asks), without a request: the usage gets no client.
#include <benchmark/benchmark.h>

#include <set>
#include <string>

#include "BenchSupport.h"
#include "corvane/ResourceListsAppUsage.h"

namespace {

const int kEntries = 2000;

void BM_Xcap_BuddyTreeDecode2000(benchmark::State& state) {
  const std::string text = pwbench::resourceListsDocument(kEntries);
  ResourceListsAppUsage usage("bench@corp.example.com", CODING_GB2312, Sptr<IXcapClient>(), false);
  std::size_t nodes = 0, buddies = 0;
  for (auto _ : state) {
    tree<TreeNode> t;
    std::set<BuddyEntry> set;
    if (usage.decodeTree(text, t, set) != XCAP_SUCCESS) {
      state.SkipWithError("decodeTree failed");
      return;
    }
    nodes = static_cast<std::size_t>(t.size());
    buddies = set.size();
  }
  if (buddies != static_cast<std::size_t>(kEntries)) {
    state.SkipWithError("the tree did not give every buddy");
    return;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kEntries));
  state.counters["tree_nodes"] = static_cast<double>(nodes);
}
BENCHMARK(BM_Xcap_BuddyTreeDecode2000)->Unit(benchmark::kMillisecond);

}  // namespace
