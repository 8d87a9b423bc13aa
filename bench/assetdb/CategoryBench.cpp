// CategoryList::Match over 200,000 class-code lists against grep -cE over the
// same lists, one per line in a file, with an expression that matches the
// same items exactly. Each run checks that both count the same lists and
// reports grep's time (process start included) over Match's as "grep/match".
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "assetdb/CategoryList.h"
#include "bench/BenchScratch.h"
#include "bench/assetdb/GrepRace.h"

namespace {

constexpr int kLists = 200000;

// Class codes as the kind and legacy tables give them: an asset's list starts
// with one of these and may gain further codes.
const char* const kBases[] = {
    "TR;TV;LOC;DIES", "TR;TV;LOC;ELEC", "TR;TV;LOC;STEM", "TR;TV;LOC;OTHR", "TR;TV;FRT;HOPP", "TR;TV;FRT;TANK",
    "TR;TV;FRT;FLAT", "TR;TV;FRT;REEF", "TR;TV;PAX;SEAT", "TR;TV;PAX;MAIL", "TR;TV;RCR;DIES", "TR;TV;MNT",
    "TR;TV;CAB",      "TR;TV;LOCO",     "TR;TV;TEND",     "TR;CMP;BOGY",    "TR;CMP;PANT",    "TR;CMP;HORN;SD",
    "SPLN;BRG",       "SPLN;TUN",       "TK;BRG",         "TK;TUN",         "TK;RLS",         "SY;FNC;SPLN",
    "RD;SPLN",        "FIXD;SWT",       "BD;IND;ACTV",    "BD;STA;NACT",    "BD;RES",         "BD;COM",
    "BD;BDB;FIXD",    "TX;ENV;GRND",    "TX;NEV",         "SY;SCEN",        "FL;SCEN",        "TO;SIG",
    "VE;LND",         "CY;PAX",         "CMP;MESH",       "RT",             "SC",             "SS",
};
const char* const kExtras[] = {"TR",   "TV",   "LOC",  "DIES", "ELEC", "STEM", "FRT",  "PAX",  "BD",  "IND",
                               "SPLN", "TK",   "BRG",  "TUN",  "RLS",  "SY",   "SCEN", "FIXD", "TO",  "SIG",
                               "TX",   "ENV",  "GRND", "VE",   "CMP",  "MESH", "SD",   "FL",   "RD",  "COM"};

bool HasCode(const std::string& list, const std::string& code) {
  return (";" + list + ";").find(";" + code + ";") != std::string::npos;
}

// 2-8 distinct codes per list, the same every run.
const std::vector<std::string>& Lists() {
  static const std::vector<std::string> lists = [] {
    std::vector<std::string> out;
    out.reserve(kLists);
    uint64_t state = 0x9E3779B97F4A7C15u;
    auto next = [&state](uint32_t bound) {
      state = state * 6364136223846793005u + 1442695040888963407u;
      return static_cast<uint32_t>(state >> 33) % bound;
    };
    for (int i = 0; i < kLists; ++i) {
      std::string list = kBases[next(std::size(kBases))];
      int codes = 1 + static_cast<int>(std::count(list.begin(), list.end(), ';'));
      const int wanted = codes + static_cast<int>(next(5));
      for (int tries = 0; codes < wanted && codes < 8 && tries < 16; ++tries) {
        const std::string extra = kExtras[next(std::size(kExtras))];
        if (HasCode(list, extra)) continue;
        list += ";" + extra;
        ++codes;
      }
      if (codes < 2) list += ";MS";
      out.push_back(std::move(list));
    }
    return out;
  }();
  return lists;
}

const std::string& ListFile() {
  static const std::string path = [] {
    std::string p = bench::ScratchPath("categories.txt");
    std::ofstream file(p, std::ios::binary);
    for (const std::string& list : Lists()) file << list << '\n';
    return p;
  }();
  return path;
}

int MatchCount(const char* pattern) {
  int count = 0;
  for (const std::string& list : Lists()) count += CategoryList::Match(pattern, list.c_str());
  return count;
}

// args: pattern for Match, the equivalent extended expression for grep.
void BM_MatchVsGrep(benchmark::State& state, const char* pattern, const char* expression) {
  bench::RaceGrep(state, [pattern] { return MatchCount(pattern); }, expression, ListFile(), kLists, "matching",
                  "match");
}

BENCHMARK_CAPTURE(BM_MatchVsGrep, one_code, "LOC", "(^|;)LOC(;|$)")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_MatchVsGrep, two_alternatives, "SPLN|TK", "(^|;)(SPLN|TK)(;|$)")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_MatchVsGrep, three_alternatives, "DIES|ELEC|STEM", "(^|;)(DIES|ELEC|STEM)(;|$)")
    ->Unit(benchmark::kMillisecond);

}  // namespace
