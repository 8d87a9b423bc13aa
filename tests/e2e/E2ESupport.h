#pragma once
// Fresh installations for the end-to-end tests, laid out by
// scripts/sample-install from this build, and a runner that gives a
// program's standard output, standard error and exit code.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/os/Process.h"
#include "platform/os/Waitable.h"
#include "tests/platform/os/TempFolder.h"

namespace e2e {

struct Result {
  std::string out;
  std::string err;
  int code = -1;
};

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteText(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// `argv` started with its output streams sent to files in `scratch` whose
// names start with `tag`, so that several may run at once.
class Running {
public:
  Running(const std::vector<std::string>& argv, const std::string& scratch, const std::string& tag = "")
      : out_(scratch + "/" + tag + "stdout.txt"), err_(scratch + "/" + tag + "stderr.txt") {
    std::vector<std::string> line{"/bin/sh", "-c", "out=$1; err=$2; shift 2; exec \"$@\" >\"$out\" 2>\"$err\"",
                                  "sh", out_, err_};
    line.insert(line.end(), argv.begin(), argv.end());
    started_ = process_.Start(line) == platform::Error::None;
    if (!started_) ADD_FAILURE() << "cannot start " << argv.front();
  }
  Running(const Running&) = delete;
  Running& operator=(const Running&) = delete;

  // Waits for the end.
  Result Finish() {
    Result result;
    if (!started_) return result;
    process_.Wait(platform::kInfinite);
    result.code = process_.ExitCode();
    result.out = ReadText(out_);
    result.err = ReadText(err_);
    return result;
  }

private:
  platform::Process process_;
  std::string out_;
  std::string err_;
  bool started_ = false;
};

// Runs `argv` with its output streams sent to files in `scratch`.
inline Result RunProgram(const std::vector<std::string>& argv, const std::string& scratch) {
  return Running(argv, scratch).Finish();
}

// Every path under the root with a hash of its content ("/" for a folder).
// The programs are compared by size: nothing writes them.
using Snapshot = std::map<std::string, std::string>;

inline std::string HashOf(const std::string& bytes) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (unsigned char c : bytes) hash = (hash ^ c) * 0x100000001b3ull;
  return std::to_string(hash);
}

inline Snapshot TakeSnapshot(const std::string& root) {
  Snapshot snapshot;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const std::string path = std::filesystem::relative(entry.path(), root).string();
    if (entry.is_directory()) {
      snapshot[path] = "/";
    } else if (path.rfind("bin/", 0) == 0 && entry.path().extension().empty()) {
      snapshot[path] = "size " + std::to_string(entry.file_size());
    } else {
      snapshot[path] = HashOf(ReadText(entry.path().string()));
    }
  }
  return snapshot;
}

// The asset folder under `root`/local that holds the file with this
// content; empty if none.
inline std::string LocalFolderHolding(const std::string& root, const std::string& file, const std::string& content) {
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root + "/local")) {
    const std::string path = entry.path().string();
    if (path.size() > file.size() && path.substr(path.size() - file.size()) == file && ReadText(path) == content)
      return path.substr(0, path.size() - file.size() - 1);
  }
  return "";
}

// One installation in a fresh temporary folder, with its samples beside it.
class Installation {
public:
  // `name` picks the folder name under the temporary folder.
  explicit Installation(const std::string& name = "inst") : root_(folder_ / name), samples_(root_ + "-samples") {
    const Result made =
        RunProgram({"/bin/bash", std::string(E2E_SOURCE_DIR) + "/scripts/sample-install", root_, E2E_BUILD_DIR},
                   folder_.Path().string());
    EXPECT_EQ(made.code, 0) << made.err;
  }
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  const std::string& Root() const { return root_; }
  const std::string& Samples() const { return samples_; }
  std::string Program() const { return root_ + "/bin/VelmarUtil"; }
  // A path in the temporary folder, outside the installation.
  std::string Scratch(const std::string& name) const { return folder_ / name; }

  Result Run(const std::vector<std::string>& arguments) const {
    std::vector<std::string> argv{Program()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return RunProgram(argv, folder_.Path().string());
  }
  // Starts the program; `tag` keeps its output apart from others running.
  std::unique_ptr<Running> Start(const std::vector<std::string>& arguments, const std::string& tag) const {
    std::vector<std::string> argv{Program()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return std::make_unique<Running>(argv, folder_.Path().string(), tag);
  }
  // Runs the lines as a batch file (written as given, line ends included).
  Result RunBatch(const std::string& content) const {
    const std::string path = Scratch("batch.txt");
    WriteText(path, content);
    return Run({"@" + path});
  }
  Snapshot Take() const { return TakeSnapshot(root_); }

private:
  platform::test::TempFolder folder_;
  std::string root_;
  std::string samples_;
};

} // namespace e2e
