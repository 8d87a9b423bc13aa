// VADSelectAssets with a category filter over an index of 200,000 records,
// against grep -cE over a text dump of the same records' class codes (one
// record a line) with an expression that takes the same records. Each run
// checks that both count the same records and reports grep's time (its
// process included) over the selection's as "grep/select".
#include <benchmark/benchmark.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADFilters.h"
#include "bench/BenchScratch.h"
#include "bench/assetdb/GrepRace.h"

namespace {

constexpr int kRecords = 200000;

// Codes of the kinds, regions of use and parts a record's class list is made
// of; a list holds two to six of them, none twice.
const char* const kCodes[] = {"TR",   "TV",   "LOC",  "DIES", "ELEC", "STEM", "FRT",  "PAX",  "MAIL", "TANK",
                              "BD",   "IND",  "RES",  "STA",  "SPLN", "TK",   "BRG",  "TUN",  "RLS",  "SY",
                              "SCEN", "FIXD", "TO",   "SIG",  "TX",   "ENV",  "GRND", "VE",   "CMP",  "MESH",
                              "SD",   "FL",   "RD",   "COM",  "CAB",  "TEND", "HOPP", "REEF", "SEAT", "PANT"};

// The index filled once: records named and coded the same every run, sorted
// as the selection walks them.
void FillIndex() {
  static const bool filled = [] {
    gVadAssetIndex.Clear();
    uint64_t state = 0x2545F4914F6CDD1Du;
    auto draw = [&state](uint32_t bound) {
      state ^= state << 13;
      state ^= state >> 7;
      state ^= state << 17;
      return static_cast<uint32_t>(state % bound);
    };
    for (int n = 0; n < kRecords; ++n) {
      VADAssetInfo record;
      record.kuid = KUID(7, n + 1, 0);
      record.name = ("asset " + std::to_string(n)).c_str();
      uint64_t taken = 0;
      std::string codes;
      for (uint32_t wanted = 2 + draw(5); wanted > 0;) {
        const uint32_t code = draw(std::size(kCodes));
        if (taken & (uint64_t{1} << code)) continue;
        taken |= uint64_t{1} << code;
        if (!codes.empty()) codes += ';';
        codes += kCodes[code];
        --wanted;
      }
      record.categoryClasses = codes.c_str();
      gVadAssetIndex.Insert(record);
    }
    gVadAssetIndex.SortByName();
    return true;
  }();
  (void)filled;
}

// The class lists of the index's records, one a line, in a scratch file.
const std::string& DumpFile() {
  static const std::string path = [] {
    FillIndex();
    std::string p = bench::ScratchPath("classes.txt");
    std::ofstream file(p, std::ios::binary);
    for (const VADAssetInfo* record : gVadAssetIndex.Records())
      file << static_cast<const char*>(record->categoryClasses) << '\n';
    return p;
  }();
  return path;
}

uint64_t SelectCount(const VADFilterElement& filter) {
  KUIDList out;
  VADSelectAssets(filter, out);
  return out.Count();
}

// args: the category pattern of the filter, the equivalent extended
// expression for grep.
void BM_SelectVsGrep(benchmark::State& state, const char* pattern, const char* expression) {
  const VADFilterElementString filter(VADFilterElementString::kCategoryList, pattern);
  bench::RaceGrep(state, [&filter] { return SelectCount(filter); }, expression, DumpFile(), kRecords, "selected",
                  "select");
}

BENCHMARK_CAPTURE(BM_SelectVsGrep, one_code, "LOC", "(^|;)LOC(;|$)")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SelectVsGrep, two_alternatives, "SPLN|TK", "(^|;)(SPLN|TK)(;|$)")
    ->Unit(benchmark::kMillisecond);

}  // namespace
