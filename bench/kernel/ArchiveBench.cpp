// Engine archives against the plain work beneath them: mounting an archive
// of 100,000 entries against one read(2) of its index bytes; look-ups by
// name; extracting a 500 MB entry against read(2) of the same bytes (what
// `cat file > /dev/null` does); the archive CRC against zlib's crc32.
#include <benchmark/benchmark.h>

#include "bench/BenchScratch.h"
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Vak/Bexlorn/Archive.h"
#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/FileSubArchive.h"
#include "Vak/Bexlorn/FileSubst.h"

namespace {

namespace Archive = Vak::Archive;

constexpr uint32_t kEntries = 100000;
constexpr uint32_t kBigBytes = 500u << 20;
constexpr std::size_t kRequest = 128u << 10;  // cat's buffer


void Put(std::string& out, const void* p, std::size_t n) { out.append(static_cast<const char*>(p), n); }

void PutHead(std::string& out, const char (&tag)[4], uint32_t length) {
  uint8_t raw[Archive::kHeadBytes];
  Archive::BlockHead head;
  std::memcpy(head.tag, tag, 4);
  head.length = length;
  head.Encode(raw);
  Put(out, raw, sizeof raw);
}

std::string EntryName(uint32_t i) {
  char name[64];
  // Files of a folder lie together, as an archive tool adds them.
  std::snprintf(name, sizeof name, "Folder%02u/Sub%04u/File%06u.dat", i / 1000, i / 50, i);
  return name;
}

struct Built {
  std::string path;
  uint32_t indexOffset = 0;
  uint32_t indexBytes = 0;
};

// Writes an archive of `count` files; file i holds `payload(i)`.
template <typename Payload>
Built BuildArchive(const char* suffix, uint32_t count, Payload payload) {
  Built built;
  built.path = bench::ScratchPath(std::string("archive") + suffix);
  FILE* out = std::fopen(built.path.c_str(), "wb");
  std::string block;
  Archive::Info info;
  uint8_t raw[Archive::kRecordBytes];
  block.assign(Archive::kSignature, 4);
  PutHead(block, Archive::kInfoTag, Archive::kInfoBytes);
  block.append(Archive::kInfoBytes, '\0');
  std::fwrite(block.data(), 1, block.size(), out);
  uint64_t at = block.size();
  std::vector<Archive::IndexRecord> records(count);
  for (uint32_t i = 0; i < count; ++i) {
    const std::string content = payload(i);
    Archive::IndexRecord& r = records[i];
    r.header.SetName(EntryName(i).c_str());
    r.header.uncompressedSize = r.header.storedSize = static_cast<uint32_t>(content.size());
    r.header.checksum = Archive::Crc::Of(content.data(), content.size());
    r.payloadOffset = static_cast<uint32_t>(at + Archive::kFileLeadBytes);
    r.payloadSize = r.header.storedSize;
    block.clear();
    PutHead(block, Archive::kFileTag, static_cast<uint32_t>(Archive::kHeaderBytes + content.size()));
    r.header.Encode(raw);
    Put(block, raw, Archive::kHeaderBytes);
    block += content;
    std::fwrite(block.data(), 1, block.size(), out);
    at += block.size();
  }
  block.clear();
  PutHead(block, Archive::kIndexTag, static_cast<uint32_t>(count * Archive::kRecordBytes));
  for (const auto& r : records) {
    r.Encode(raw);
    Put(block, raw, sizeof raw);
  }
  std::fwrite(block.data(), 1, block.size(), out);
  built.indexOffset = static_cast<uint32_t>(at);
  built.indexBytes = static_cast<uint32_t>(block.size());
  info.entryCount = count;
  info.indexOffset = built.indexOffset;
  block.assign(Archive::kSignature, 4);
  PutHead(block, Archive::kInfoTag, Archive::kInfoBytes);
  info.Encode(raw);
  Put(block, raw, Archive::kInfoBytes);
  std::fseek(out, 0, SEEK_SET);
  std::fwrite(block.data(), 1, block.size(), out);
  std::fclose(out);
  return built;
}

const Built& ManyEntries() {
  static const Built built = BuildArchive("-many.va", kEntries, [](uint32_t i) { return std::to_string(i); });
  return built;
}

const Built& BigEntry() {
  static const Built built = BuildArchive("-big.va", 1, [](uint32_t) {
    std::string s(kBigBytes, '\0');
    for (std::size_t i = 0; i < s.size(); i += 4096) s[i] = static_cast<char>(i >> 12);
    return s;
  });
  return built;
}

// One read(2) of the index bytes into `buffer`; false when short.
bool ReadIndexBytes(const Built& built, std::vector<char>& buffer) {
  int fd = ::open(built.path.c_str(), O_RDONLY);
  ::lseek(fd, built.indexOffset, SEEK_SET);
  std::size_t total = 0;
  for (ssize_t n; total < buffer.size() && (n = ::read(fd, buffer.data() + total, buffer.size() - total)) > 0;)
    total += static_cast<std::size_t>(n);
  ::close(fd);
  benchmark::DoNotOptimize(buffer.data());
  return total == buffer.size();
}

// The mount, timed alone; each iteration also reads the index bytes, so
// "x_index_read" is the mount's time over the read's, both from this run.
void BM_Mount_Archive100k(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const Built& built = ManyEntries();
  std::vector<char> buffer(built.indexBytes);
  double mount = 0, read = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    {
      Vak::FileSubArchive archive(built.path.c_str(), false);
      if (!archive.Indexed() || archive.KnownEntries() != kEntries) state.SkipWithError("mount failed");
    }
    const auto mounted = Clock::now();
    if (!ReadIndexBytes(built, buffer)) state.SkipWithError("short read");
    const auto readDone = Clock::now();
    const double seconds = std::chrono::duration<double>(mounted - start).count();
    mount += seconds;
    read += std::chrono::duration<double>(readDone - mounted).count();
    state.SetIterationTime(seconds);
  }
  state.SetItemsProcessed(state.iterations() * kEntries);
  if (read > 0) state.counters["x_index_read"] = mount / read;
}
BENCHMARK(BM_Mount_Archive100k)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseManualTime();

void BM_Mount_RawIndexRead(benchmark::State& state) {
  const Built& built = ManyEntries();
  std::vector<char> buffer(built.indexBytes);
  for (auto _ : state)
    if (!ReadIndexBytes(built, buffer)) state.SkipWithError("short read");
  state.SetItemsProcessed(state.iterations() * kEntries);
}
BENCHMARK(BM_Mount_RawIndexRead)->Unit(benchmark::kMillisecond)->MinTime(0.5);

// Found names in a shuffled order, in another case than stored.
void BM_Lookup(benchmark::State& state) {
  Vak::FileSubArchive archive(ManyEntries().path.c_str(), false);
  std::vector<std::string> names;
  for (uint32_t i = 0; i < kEntries; i += 7) {
    std::string n = EntryName((i * 7919u) % kEntries);
    for (char& c : n) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    names.push_back(n);
  }
  Vak::PString substitute;
  std::size_t i = 0, found = 0;
  for (auto _ : state) {
    found += archive.Exists(substitute, names[i].c_str());
    if (++i == names.size()) i = 0;
  }
  if (found != static_cast<std::size_t>(state.iterations())) state.SkipWithError("a name was not found");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Lookup)->MinTime(0.5);

void BM_Extract500MB_Archive(benchmark::State& state) {
  const Built& built = BigEntry();
  Vak::File::Subst(Vak::PString("bench"), built.path.c_str(), false);
  std::vector<char> buffer(kRequest);
  const std::string name = "bench:" + EntryName(0);
  for (auto _ : state) {
    Vak::File file;
    if (!file.Open(name.c_str(), Vak::File::kRead).Ok()) {
      state.SkipWithError("open failed");
      break;
    }
    uint64_t total = 0;
    for (unsigned long n; (n = file.Read(buffer.data(), kRequest, 1)) > 0;) total += n;
    file.Close();
    if (total != kBigBytes) state.SkipWithError("short read");
  }
  Vak::File::Subst(Vak::PString("bench"), nullptr, false);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * uint64_t(kBigBytes)));
}
BENCHMARK(BM_Extract500MB_Archive)->Unit(benchmark::kMillisecond)->Iterations(5);

// The same 500 MB (the entry's payload) read as cat reads a file.
void BM_Extract500MB_Cat(benchmark::State& state) {
  const Built& built = BigEntry();
  std::vector<char> buffer(kRequest);
  for (auto _ : state) {
    int fd = ::open(built.path.c_str(), O_RDONLY);
    ::lseek(fd, Archive::kNewArchiveBytes + Archive::kFileLeadBytes, SEEK_SET);
    uint64_t total = 0;
    for (ssize_t n; total < kBigBytes && (n = ::read(fd, buffer.data(), kRequest)) > 0;) total += static_cast<uint64_t>(n);
    ::close(fd);
    if (total < kBigBytes) state.SkipWithError("short read");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * uint64_t(kBigBytes)));
}
BENCHMARK(BM_Extract500MB_Cat)->Unit(benchmark::kMillisecond)->Iterations(5);

const std::vector<uint8_t>& CrcInput() {
  static const std::vector<uint8_t> data = [] {
    std::vector<uint8_t> d(64u << 20);
    for (std::size_t i = 0; i < d.size(); ++i) d[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
    return d;
  }();
  return data;
}

void BM_Crc_Archive(benchmark::State& state) {
  const auto& data = CrcInput();
  for (auto _ : state) benchmark::DoNotOptimize(Archive::Crc::Of(data.data(), data.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_Crc_Archive)->Unit(benchmark::kMillisecond)->MinTime(0.5);

void BM_Crc_Zlib(benchmark::State& state) {
  const auto& data = CrcInput();
  for (auto _ : state)
    benchmark::DoNotOptimize(crc32(crc32(0, nullptr, 0), data.data(), static_cast<uInt>(data.size())));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_Crc_Zlib)->Unit(benchmark::kMillisecond)->MinTime(0.5);

} // namespace
