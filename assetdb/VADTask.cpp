#include "assetdb/VADTask.h"

#include <cstring>
#include <exception>
#include <initializer_list>
#include <utility>
#include <memory>
#include <string>
#include <vector>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/Exception.h"
#include "Vak/Bexlorn/Time.h"
#include "assetdb/AssetArchiveCache.h"
#include "assetdb/JobScheduler.h"
#include "assetdb/VADServices.h"
#include "content/ACSChunk.h"
#include "content/AppGlobals.h"
#include "content/FileHelpers.h"
#include "content/TextHelpers.h"
#include "platform/os/FileSystem.h"

using Vak::PString;
using Path = Vak::File::Path;

// ---- tasks

VADTask::~VADTask() {
  if (!thread_) return;
  cancel.store(1);
  // The thread's destructor waits for a running body.
  delete thread_;
  thread_ = nullptr;
}

void VADTask::SetThread(VADTaskThread* thread) {
  thread_ = thread;
  if (thread) thread->task = this;
}

namespace {

Vak::String Locked(const ResultsLog& log, const Vak::String& text) {
  log.Lock();
  Vak::String copy(static_cast<const char*>(text));
  log.Unlock();
  return copy;
}

} // namespace

void VADTask::SetTitle(const char* text) {
  Lock();
  title_ = text ? text : "";
  Unlock();
}
Vak::String VADTask::GetTitle() const { return Locked(*this, title_); }

void VADTask::SetStatus(const char* text) {
  Lock();
  status_ = text ? text : "";
  Unlock();
}
Vak::String VADTask::GetStatus() const { return Locked(*this, status_); }

void VADTask::ReportError(const char* text) {
  Lock();
  errorText_ = text ? text : "";
  Unlock();
  AddMessage(kError, nullptr, text ? text : "");
}
Vak::String VADTask::GetErrorText() const { return Locked(*this, errorText_); }

VADTaskThread::VADTaskThread() : Vak::Thread(&VADTaskThread::Entry, this, false) {}

VADTaskThread::~VADTaskThread() {
  Terminate();
  Lock();
}

unsigned VADTaskThread::Entry(void* self) {
  VADTaskThread& thread = *static_cast<VADTaskThread*>(self);
  thread.threadId_.store(Vak::Thread::GetCurrentId());
  thread.Run();
  thread.threadId_.store(0);
  if (VADTask* task = thread.task) {
    task->running.store(0);
    task->OnThreadEnded();
  }
  return 0;
}

bool VADTaskThread::HasDiskSpace(const char* folder) {
  uint64_t bytes = 0;
  const VADFreeSpaceFunction query = GetVADServices().freeSpace;
  if (!query || !query(folder, bytes)) return false;
  return bytes >= kMinFreeSpace;
}

void VADUpdateCheckThread::Run() {
  std::unique_ptr<VADUpdateDownload> download(source_.Request(kUpdatePage, kRequestMode, 0));
  if (!download) return;
  int32_t state = download->GetState();
  while (state != VADUpdateDownload::kDone && download->IsActive()) {
    if (task && task->cancel.load()) return;
    Vak::Time::Delay(kPollMs);
    state = download->GetState();
  }
  if (download->HasError() || state == VADUpdateDownload::kFailed) return;
  if (progress_) progress_(1.0f);
}

// ---- worker call chains

// One call of the chain as a scheduler job. A job the scheduler drops
// without running it (at shutdown) ends the chain as failed, so its waiter
// is not left waiting.
class VelmarWorkerCallChain::Step : public CXCallbackBase {
public:
  explicit Step(VelmarWorkerCallChain& chain) : chain_(chain) {}
  ~Step() override {
    if (!ran_) chain_.Advance(false);
  }
  intptr_t Run(uintptr_t) override {
    ran_ = true;
    std::function<void()> call;
    {
      std::lock_guard<std::mutex> guard(chain_.lock_);
      call = std::move(chain_.queue_.front().function);
    }
    try {
      call();
    } catch (...) {
      chain_.SetFailed();
    }
    chain_.Advance(true);
    return 1;
  }

private:
  VelmarWorkerCallChain& chain_;
  bool ran_ = false;
};

VelmarWorkerCallChain::VelmarWorkerCallChain(JobScheduler& scheduler) : scheduler_(scheduler) {}

VelmarWorkerCallChain::~VelmarWorkerCallChain() { WaitIdle(); }

void VelmarWorkerCallChain::Post(std::function<void()> call, uint32_t flags) {
  std::lock_guard<std::mutex> guard(lock_);
  queue_.push_back(Call{std::move(call), flags | JobScheduler::kNoWait});
}

void VelmarWorkerCallChain::Start() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (queue_.empty()) return;
    ++busyCount_;
    busy_ = 1;
    idle_.Reset();
  }
  failure_.store(0);
  running_.store(1);
  RunNext();
}

void VelmarWorkerCallChain::RunNext() {
  uint32_t flags = 0;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (queue_.empty()) {
      running_.store(0);
      --busyCount_;
      busy_ = 0;
      idle_.Set();
      return;
    }
    flags = queue_.front().flags;
  }
  scheduler_.Post(new Step(*this), flags);
}

void VelmarWorkerCallChain::Advance(bool ran) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (ran) {
      queue_.pop_front();
    } else {
      // Nothing after a dropped call may run: it may need what that one did.
      failure_.store(1);
      queue_.clear();
    }
  }
  RunNext();
}

bool VelmarWorkerCallChain::IsBusy() {
  std::lock_guard<std::mutex> guard(lock_);
  return busyCount_ != 0;
}

void VelmarWorkerCallChain::WaitIdle() {
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (busyCount_ == 0) {
        busyCount_ = 1;
        busy_ = 1;
        idle_.Reset();
        break;
      }
    }
    const bool queued = scheduler_.QueuedCount() != 0;
    if (!queued || scheduler_.RunPending(0) == 0) idle_.Lock(10);
  }
  std::lock_guard<std::mutex> guard(lock_);
  --busyCount_;
  busy_ = 0;
  idle_.Set();
}

// ---- texture conversion

namespace {

VADTextureService* gTextureService = nullptr;

// The path without its last `count` characters.
Path Shortened(const char* path, std::size_t count) {
  std::string text(path);
  text.resize(text.size() > count ? text.size() - count : 0);
  return Path(text.c_str());
}

// An error line whose $(NAME) macros the parameters fill.
void Report(ResultsLog& log, const char* text, std::initializer_list<std::pair<const char*, const char*>> values) {
  ACSChunkPtr parameters;
  parameters.MakeContainer();
  for (const auto& [name, value] : values) parameters.SetChildString(PString(name), value);
  log.AddMessage(ResultsLog::kError, nullptr, text, parameters);
}

} // namespace

void VADSetTextureService(VADTextureService* service) { gTextureService = service; }
VADTextureService* VADGetTextureService() { return gTextureService; }

VADTextureConvertFileRPC::VADTextureConvertFileRPC(const PString& fileSet, const char* path, ResultsLog& log,
                                                   JobScheduler& scheduler)
    : fileSet_(fileSet), path_(path), log_(log), chain_(scheduler) {}

VADTextureConvertFileRPC::~VADTextureConvertFileRPC() {
  chain_.WaitIdle();
  // Stages the scheduler dropped leave their work here.
  ReleaseResource();
  RestoreName();
}

void VADTextureConvertFileRPC::Fail(const char* text, bool withArchive) {
  failure_.store(1);
  const char* archive = fileSet_.IsNull() ? "" : fileSet_.c_str();
  if (withArchive) {
    Report(log_, text, {{"file_name", path_}, {"archive", archive}});
  } else {
    Report(log_, text, {{"file_name", path_}});
  }
}

bool VADTextureConvertFileRPC::Start() {
  const Path root = GetDatabaseRootPath();
  Path absolute;
  if (fileSet_.IsNull()) {
    absolute = path_;
  } else {
    absolute = root;
    absolute.AddPath(fileSet_.c_str());
    absolute.AddPath(path_);
  }
  output_ = Shortened(absolute, 4);
  if (platform::Exists(output_)) DeleteInsideDatabaseRoot(PString(), output_);

  if (fileSet_.IsNull()) {
    const std::size_t rootLength = std::strlen(root);
    const char* text = path_;
    if (rootLength == 0 || Vak::CodePage::CompareIgnoreCaseN(text, root, rootLength) != 0 ||
        (text[rootLength] != '/' && text[rootLength] != '\\')) {
      Fail("Unable to determine relative path for '$(FILE_NAME)'", false);
      return false;
    }
    std::string rest(text + rootLength + 1);
    const std::size_t cut = rest.find_first_of("/\\");
    if (cut == std::string::npos) {
      Fail("Unable to determine relative path for '$(FILE_NAME)'", false);
      return false;
    }
    PString set(rest.substr(0, cut).c_str());
    LowerCasePString(set);
    fileSet_ = set;
    relative_ = rest.substr(cut + 1).c_str();
  } else {
    relative_ = path_;
  }

  working_ = Shortened(relative_, 4);
  working_.Add(kWorkingSuffix);
  if (!RenameInRoot(fileSet_, relative_, fileSet_, working_)) {
    Fail("Unable to rename file '$(FILE_NAME)' in subst '$(ARCHIVE)'", true);
    return false;
  }
  renamed_.store(1);

  chain_.Post([this] { Guarded(&VADTextureConvertFileRPC::Load); }, kLoadFlags);
  chain_.Post([this] { Guarded(&VADTextureConvertFileRPC::Write); }, kWriteFlags);
  chain_.Post([this] { Guarded(&VADTextureConvertFileRPC::ReleaseResource); }, kReleaseFlags);
  chain_.Start();
  return true;
}

void VADTextureConvertFileRPC::Guarded(void (VADTextureConvertFileRPC::*stage)()) {
  const char* error = nullptr;
  std::string text;
  try {
    (this->*stage)();
    return;
  } catch (const Vak::Exception& e) {
    text = e.Description();
  } catch (const std::exception& e) {
    text = e.what();
  } catch (...) {
    text = "unknown";
  }
  error = text.c_str();
  failure_.store(1);
  Report(log_, "Exception '$(ERROR)' thrown while processing '$(FILE_NAME)'", {{"error", error}, {"file_name", path_}});
  if (stage == &VADTextureConvertFileRPC::Write) RestoreName();
}

void VADTextureConvertFileRPC::Load() {
  database_ = AssetArchiveCache::Acquire(fileSet_, GetDatabaseRootPath());
  if (!database_) return Fail("Unable to open subst '$(ARCHIVE)'", true);
  VADTextureService* service = VADGetTextureService();
  resource_ = service ? service->Open(database_, fileSet_, working_) : nullptr;
  if (!resource_) return Fail("Unable to open source texture '$(FILE_NAME)' in subst '$(ARCHIVE)'", true);
  if (!resource_->IsCompressible())
    return Fail("Incorrect resource type for source texture '$(FILE_NAME)' in subst '$(ARCHIVE)'", true);
  options_.ProcessRaw(kOptions);
  resource_->SetOptions(options_);
  if (!resource_->Load()) return Fail("Unable to load source texture '$(FILE_NAME)' in subst '$(ARCHIVE)'", true);
  loaded_ = 1;
  if (!resource_->Lock()) return Fail("Lock failed for source texture '$(FILE_NAME)' in subst '$(ARCHIVE)'", true);
  locked_ = 1;
}

void VADTextureConvertFileRPC::Write() {
  // Only a good load gives something to save.
  if (failure_.load() == 0 && locked_) {
    if (!resource_->CompressAndSave(output_)) {
      failure_.store(1);
      Report(log_, "Unable to write output file '$(FILE_NAME)'", {{"file_name", output_}});
    }
  }
  RestoreName();
}

void VADTextureConvertFileRPC::ReleaseResource() {
  if (resource_) {
    if (locked_) resource_->Unlock();
    locked_ = 0;
    loaded_ = 0;
    resource_->Release();
    resource_ = nullptr;
  }
  if (database_) {
    AssetArchiveCache::Release(database_);
    database_ = nullptr;
  }
  RestoreName();
}

void VADTextureConvertFileRPC::RestoreName() {
  if (renamed_.exchange(0) == 0) return;
  if (!RenameInRoot(fileSet_, working_, fileSet_, relative_)) {
    Report(log_, "Unable to rename file '$(FILE_NAME)' in subst '$(ARCHIVE)'",
           {{"file_name", working_}, {"archive", fileSet_.c_str()}});
  }
}

namespace {

// The folder as the platform layer sees it.
Path Resolved(const PString& fileSet, const char* folder) {
  if (fileSet.IsNull()) return Path(folder);
  Path path = InDatabaseRoot(fileSet.c_str());
  if (path.Length() == 0 || !path.AddPath(folder)) return Path();
  return path;
}

} // namespace

int VADConvertTextures(const PString& fileSet, const char* folder, ResultsLog& log) {
  std::vector<platform::FolderEntry> entries;
  if (!folder || platform::ListFolder(Resolved(fileSet, folder), entries) != platform::Error::None) {
    Report(log, "Unable to search path: '$(FILE_NAME)'", {{"file_name", folder ? folder : ""}});
    return 0;
  }
  bool foldersConverted = true;
  std::vector<std::unique_ptr<VADTextureConvertFileRPC>> records;
  for (const platform::FolderEntry& entry : entries) {
    Path path(folder);
    path.AddPath(entry.name.c_str());
    if (entry.info.isFolder) {
      if (VADConvertTextures(fileSet, path, log) != 2) foldersConverted = false;
    } else if (Vak::CodePage::EndsWithIgnoreCase(entry.name.c_str(), "texture.txt")) {
      records.push_back(std::make_unique<VADTextureConvertFileRPC>(fileSet, path, log, JobScheduler::Instance()));
      records.back()->Start();
    }
  }
  // Every record is waited for and freed before the caller gets its log
  // back, failed or not.
  bool failed = false;
  for (std::unique_ptr<VADTextureConvertFileRPC>& record : records) {
    record->WaitIdle();
    if (record->Failed()) failed = true;
    record.reset();
  }
  if (failed) {
    log.AddMessage(ResultsLog::kError, nullptr, "$vad_texture_compress_err");
    return 1;
  }
  return foldersConverted ? 2 : 0;
}

bool VADDeleteCompiledTextures(const PString& fileSet, const char* folder) {
  std::vector<platform::FolderEntry> entries;
  if (!folder || platform::ListFolder(Resolved(fileSet, folder), entries) != platform::Error::None) return false;
  bool ok = true;
  for (const platform::FolderEntry& entry : entries) {
    Path path(folder);
    path.AddPath(entry.name.c_str());
    if (entry.info.isFolder) {
      ok = VADDeleteCompiledTextures(fileSet, path) && ok;
    } else if (Vak::CodePage::EndsWithIgnoreCase(entry.name.c_str(), "texture.txt")) {
      const Path compiled = Shortened(path, 4);
      if (platform::Exists(Resolved(fileSet, compiled))) ok = DeleteInsideDatabaseRoot(fileSet, compiled) && ok;
    }
  }
  return ok;
}
