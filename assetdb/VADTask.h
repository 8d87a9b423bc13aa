#pragma once
// Long database jobs: a task collects its messages as a results log and owns
// the thread that runs it. Texture conversion runs differently, as chains of
// calls on the job scheduler: each description's stages one after another,
// the chains of different files side by side.
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/Options.h"
#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/Sync.h"
#include "Vak/Bexlorn/Thread.h"
#include "content/ResultsLog.h"

class JobScheduler;
class VADTaskThread;

namespace Vak {
class ResourceDatabase;
}

class VADTask : public ResultsLog {
public:
  VADTask() = default;
  // Cancels and waits for the thread it owns, then frees it.
  ~VADTask() override;
  VADTask(const VADTask&) = delete;
  VADTask& operator=(const VADTask&) = delete;

  // Called on the task's thread when its Run has returned.
  virtual void OnThreadEnded() {}

  // Takes the thread; it starts at Resume.
  void SetThread(VADTaskThread* thread);
  VADTaskThread* Thread() const { return thread_; }

  // What a watcher shows of the task: its title, the step it is at and how
  // far it has come (0 to 1).
  void SetTitle(const char* text);
  Vak::String GetTitle() const;
  void SetStatus(const char* text);
  Vak::String GetStatus() const;
  void SetProgress(float progress) { progress_.store(progress); }
  float GetProgress() const { return progress_.load(); }
  // Kept as the task's error text and added to its log as an error, so the
  // task counts it.
  void ReportError(const char* text);
  Vak::String GetErrorText() const;

  std::atomic<uint8_t> cancel{0};
  std::atomic<uint8_t> running{0};

private:
  VADTaskThread* thread_ = nullptr;
  Vak::String title_;      // these three under the log's lock
  Vak::String status_;
  Vak::String errorText_;
  std::atomic<float> progress_{0.0f};
};

class VADTaskThread : public Vak::Thread {
public:
  // Suspended until Resume.
  VADTaskThread();
  // A thread never resumed ends without running; a running one is waited
  // for while the object is still whole.
  ~VADTaskThread() override;

  virtual void Run() {}
  // False when the free space of the folder's disk is unknown or below
  // kMinFreeSpace.
  virtual bool HasDiskSpace(const char* folder);

  static constexpr uint64_t kMinFreeSpace = 0x6400000;  // 100 MiB

  unsigned long RunningThreadId() const { return threadId_.load(); }
  VADTask* task = nullptr;

protected:
  // For a task run in place on the caller's thread.
  void SetRunningThreadId(unsigned long id) { threadId_.store(id); }

private:
  static unsigned Entry(void* self);
  std::atomic<unsigned long> threadId_{0};
};

// What the update check needs of the download manager, which these programs
// do not have: a request for a page and its state.
class VADUpdateDownload {
public:
  enum State : int32_t { kDone = 3, kFailed = 4 };
  virtual ~VADUpdateDownload() = default;
  virtual int32_t GetState() = 0;
  virtual bool IsActive() = 0;
  virtual bool HasError() = 0;
};
class VADUpdateSource {
public:
  virtual ~VADUpdateSource() = default;
  // Null when the request is refused; the caller owns the download.
  virtual VADUpdateDownload* Request(const char* url, int32_t mode, uint32_t timeLimitMs) = 0;
};

// Fetches the maker's update page and, when it came, reports progress 1.0.
// Present for completeness: nothing in these programs starts it.
class VADUpdateCheckThread : public VADTaskThread {
public:
  static constexpr const char* kUpdatePage = "https://update.invalid/velmar/latest";
  static constexpr int32_t kRequestMode = 2;
  static constexpr unsigned long kPollMs = 100;

  VADUpdateCheckThread(VADUpdateSource& source, std::function<void(float)> progress)
      : source_(source), progress_(std::move(progress)) {}
  void Run() override;

private:
  VADUpdateSource& source_;
  std::function<void(float)> progress_;
};

// Calls that run one after another on the job scheduler, each where its
// flags put it; the main thread waits for the chain with WaitIdle.
class VelmarWorkerCallChain {
public:
  explicit VelmarWorkerCallChain(JobScheduler& scheduler);
  // Waits until the chain is idle.
  ~VelmarWorkerCallChain();
  VelmarWorkerCallChain(const VelmarWorkerCallChain&) = delete;
  VelmarWorkerCallChain& operator=(const VelmarWorkerCallChain&) = delete;

  // Queued with the flags plus "the poster does not wait".
  void Post(std::function<void()> call, uint32_t flags);
  // Runs the queued calls; nothing when none are queued.
  void Start();
  // Returns once no call of the chain runs or waits; meanwhile the calling
  // thread runs the scheduler's jobs it may run.
  void WaitIdle();

  // A call threw, or a step was cancelled before it ran.
  bool Failed() const { return failure_.load() != 0; }
  void SetFailed() { failure_.store(1); }
  bool IsBusy();

private:
  class Step;
  struct Call {
    std::function<void()> function;
    uint32_t flags = 0;
  };
  void RunNext();
  // The front call ran (or was dropped): on to the next.
  void Advance(bool ran);
  void BecomeIdle();

  JobScheduler& scheduler_;
  std::mutex lock_;  // guards the queue, the busy count and byte, the event
  std::deque<Call> queue_;
  std::atomic<uint8_t> running_{0};
  std::atomic<uint8_t> failure_{0};
  int32_t busyCount_ = 0;
  uint8_t busy_ = 0;
  Vak::WEvent idle_{true, true};
};

// What conversion needs of the compressible texture resource of the 3-D
// asset formats. Release gives back the resource and anything it loaded.
class VADTextureResource {
public:
  virtual ~VADTextureResource() = default;
  // The run-time type check: a texture that can be compressed.
  virtual bool IsCompressible() = 0;
  virtual void SetOptions(const Vak::Options& options) = 0;
  virtual bool Load() = 0;
  virtual bool Lock() = 0;
  virtual void Unlock() = 0;
  // Compresses every mip level and writes the converted texture.
  virtual bool CompressAndSave(const char* outputPath) = 0;
  virtual void Release() = 0;
};

// Opens source textures; the program installs the real one, tests a fake.
class VADTextureService {
public:
  virtual ~VADTextureService() = default;
  // The texture `name` of the file set `fileSet` (whose database is given);
  // null when it cannot be opened.
  virtual VADTextureResource* Open(Vak::ResourceDatabase* database, const Vak::PString& fileSet, const char* name) = 0;
};
void VADSetTextureService(VADTextureService* service);
VADTextureService* VADGetTextureService();

// The conversion of one texture description file.
class VADTextureConvertFileRPC {
public:
  static constexpr const char* kOptions = "-Automip=none -Compression=auto";
  static constexpr const char* kWorkingSuffix = ".convert-tex.txt";
  // Scheduler flags of the stages.
  static constexpr uint32_t kLoadFlags = 11, kWriteFlags = 24, kReleaseFlags = 9;

  // `path` lies in the file set `fileSet`, or is absolute when that is null.
  VADTextureConvertFileRPC(const Vak::PString& fileSet, const char* path, ResultsLog& log, JobScheduler& scheduler);
  // Waits for the chain; the description gets its own name back.
  ~VADTextureConvertFileRPC();
  VADTextureConvertFileRPC(const VADTextureConvertFileRPC&) = delete;
  VADTextureConvertFileRPC& operator=(const VADTextureConvertFileRPC&) = delete;

  // Renames the description to its working name and starts the stages;
  // false (and failed) when that could not be done.
  bool Start();
  void WaitIdle() { chain_.WaitIdle(); }
  bool Failed() const { return failure_.load() != 0 || chain_.Failed(); }
  const char* OutputPath() const { return output_; }

private:
  void Load();
  void Write();
  void ReleaseResource();
  void RestoreName();
  void Fail(const char* text, bool withArchive);
  void Guarded(void (VADTextureConvertFileRPC::*stage)());

  Vak::PString fileSet_;
  Vak::File::Path path_;      // as given
  Vak::File::Path relative_;  // inside the file set
  Vak::File::Path working_;   // the working name, inside the file set
  Vak::File::Path output_;    // absolute
  ResultsLog& log_;
  VelmarWorkerCallChain chain_;
  Vak::ResourceDatabase* database_ = nullptr;
  VADTextureResource* resource_ = nullptr;
  Vak::Options options_;
  std::atomic<uint8_t> failure_{0};
  std::atomic<uint8_t> renamed_{0};
  uint8_t loaded_ = 0;
  uint8_t locked_ = 0;
};

// Converts every texture description under the folder (of the file set when
// a name is given, else an absolute folder): 2 when all converted, 1 when one
// failed, 0 when the folder could not be searched or a sub-folder failed.
// Every conversion started has ended when it returns.
int VADConvertTextures(const Vak::PString& fileSet, const char* folder, ResultsLog& log);
// Deletes the compiled texture beside every description under the folder;
// false when the folder cannot be searched or a deletion failed.
bool VADDeleteCompiledTextures(const Vak::PString& fileSet, const char* folder);
