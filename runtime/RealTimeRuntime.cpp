#include "runtime/RealTimeRuntime.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <mutex>
#include <system_error>

#include "ports/Utf.h"

namespace lu14 {
namespace {

constexpr std::uint32_t kErrorPathNotFound = 3;
constexpr std::uint32_t kErrorAccessDenied = 5;

// A semaphore of this process only: the runtime has no system-wide named
// objects, so it cannot keep other processes out.
class LocalSemaphore : public NamedSemaphore {
 public:
  LocalSemaphore(std::int32_t count, std::int32_t maximum) : count_(count), maximum_(maximum) {}
  bool Wait(Milliseconds) override {
    if (count_ == 0) return false;
    --count_;
    return true;
  }
  void Release(std::int32_t count) override {
    if (count > 0 && count_ + count <= maximum_) count_ += count;
  }

 private:
  std::int32_t count_;
  std::int32_t maximum_;
};

// A platform file that keeps, when a call fails, what went wrong for
// LastFileError: a full disk shows only when a write or the flush fails.
class NotingFile : public OutputFile {
 public:
  NotingFile(std::unique_ptr<OutputFile> file, std::filesystem::path path,
             std::function<void(const std::filesystem::path&)> failed)
      : file_(std::move(file)), path_(std::move(path)), failed_(std::move(failed)) {}
  bool Write(std::span<const std::uint8_t> bytes) override { return Noted(file_->Write(bytes)); }
  bool FlushToDisk() override { return Noted(file_->FlushToDisk()); }
  bool Close() override { return Noted(file_->Close()); }

 private:
  bool Noted(bool done) {
    if (!done) failed_(path_);
    return done;
  }

  std::unique_ptr<OutputFile> file_;
  std::filesystem::path path_;
  std::function<void(const std::filesystem::path&)> failed_;
};

}  // namespace

RealTimeRuntime::RealTimeRuntime(std::optional<std::filesystem::path> documents, std::ostream& boxes)
    : documents_(std::move(documents)), boxes_(boxes) {}

bool RealTimeRuntime::StartTimer(TimerId id, Milliseconds interval) {
  timers_[id] = Timer{interval, Present() + interval};
  return true;
}

void RealTimeRuntime::Sleep(Milliseconds duration) {
  paused_ += duration;
  PayOwedTime();
  WaitUntil(Clock::now() + duration);
}

void RealTimeRuntime::Spend(std::chrono::microseconds duration) {
  constexpr auto kLongestOwed = std::chrono::milliseconds(10);
  const Clock::time_point now = Clock::now();
  busyUntil_ = std::max(busyUntil_, now) + duration;
  if (busyUntil_ - now >= kLongestOwed) PayOwedTime();
}

void RealTimeRuntime::PayOwedTime() {
  if (Clock::now() < busyUntil_) WaitUntil(busyUntil_);
}

void RealTimeRuntime::ShowMessageBox(const MessageBoxRequest& box) {
  boxes_ << (box.caption.empty() ? std::string() : box.caption + ": ") << box.text << '\n';
}

std::optional<std::string> RealTimeRuntime::EnvironmentVariable(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (!value) return std::nullopt;
  return std::string(value);
}

LocalTime RealTimeRuntime::Now() {
  // std::localtime fills one buffer for the whole process, and runtimes on
  // several threads (lu14 update --all) read the clock at once.
  static std::mutex localTimeBuffer;
  const std::lock_guard<std::mutex> hold(localTimeBuffer);
  const std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  return LocalTime{local->tm_year + 1900, local->tm_mon + 1, local->tm_mday,
                   local->tm_hour,        local->tm_min,     local->tm_sec};
}

bool RealTimeRuntime::StartHiddenCommand(const std::string&) {
  return false;  // no companion programs to end outside Windows
}

std::unique_ptr<NamedSemaphore> RealTimeRuntime::CreateNamedSemaphore(const std::u16string&, std::int32_t initialCount,
                                                                      std::int32_t maximumCount) {
  return std::make_unique<LocalSemaphore>(initialCount, maximumCount);
}

void RealTimeRuntime::NoteFileError(const std::filesystem::path& path, const std::string& reason) {
  const std::u8string name = path.u8string();
  lastFileError_ = std::string(name.begin(), name.end()) + ": " + reason;
}

std::optional<std::filesystem::path> RealTimeRuntime::DocumentsFolder() {
  if (!documents_) {
    lastFileError_.clear();
    return std::nullopt;
  }
  std::error_code error;
  std::filesystem::create_directories(*documents_, error);
  std::error_code looked;
  if (error && std::filesystem::exists(*documents_, looked) && !std::filesystem::is_directory(*documents_, looked)) {
    NoteFileError(*documents_, "a file, not a folder");
    return std::nullopt;
  }
  if (error) {
    NoteFileError(*documents_, error.message());
    return std::nullopt;
  }
  return documents_;
}

std::uint32_t RealTimeRuntime::MakeDirectory(const std::filesystem::path& path) {
  std::error_code error;
  if (std::filesystem::exists(path, error)) return kErrorAlreadyExists;
  if (!std::filesystem::exists(path.parent_path(), error)) {
    NoteFileError(path.parent_path(), "no such folder");
    return kErrorPathNotFound;
  }
  if (std::filesystem::create_directory(path, error)) return 0;
  // Made meanwhile by another backup (another meter's, on another thread).
  if (!error && std::filesystem::is_directory(path, error)) return kErrorAlreadyExists;
  NoteFileError(path, error ? error.message() : "not made");
  return kErrorAccessDenied;
}

std::unique_ptr<OutputFile> RealTimeRuntime::CreateOutputFile(const std::filesystem::path& path) {
  std::unique_ptr<OutputFile> file = OpenOutputFile(path);
  if (!file) {
    NoteFileError(path, PlatformErrorText());
    return nullptr;
  }
  return std::make_unique<NotingFile>(std::move(file), path, [this](const std::filesystem::path& failed) {
    NoteFileError(failed, PlatformErrorText());
  });
}

MoveOutcome RealTimeRuntime::MoveFileNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
  const MoveOutcome moved = MoveNoReplace(from, to);
  if (moved == MoveOutcome::Failed) NoteFileError(to, PlatformErrorText());
  return moved;
}

bool RealTimeRuntime::RemoveFile(const std::filesystem::path& path) {
  std::error_code error;
  const bool removed = std::filesystem::remove(path, error);
  if (!removed) NoteFileError(path, error ? error.message() : "no such file");
  return removed;
}

bool RealTimeRuntime::RunUntil(const std::function<bool()>& condition, std::chrono::microseconds limit) {
  const Clock::time_point deadline = Clock::now() + limit;
  // What was spent is waited out before the caller goes on.
  struct PaidOnReturn {
    RealTimeRuntime& runtime;
    ~PaidOnReturn() { runtime.PayOwedTime(); }
  } paid{*this};
  while (!condition()) {
    if (!posted_.empty()) {
      auto message = std::move(posted_.front());
      posted_.pop_front();
      message();
      continue;
    }
    const auto next = std::min_element(timers_.begin(), timers_.end(),
                                       [](const auto& a, const auto& b) { return a.second.due < b.second.due; });
    const bool timerFirst = next != timers_.end() && (delayed_.empty() || next->second.due <= delayed_.begin()->first);
    const Clock::time_point due = timerFirst           ? next->second.due
                                  : !delayed_.empty() ? delayed_.begin()->first
                                                      : deadline;
    // A timer comes due no sooner than the owed time ends, as if the
    // blocking calls had taken it then and there.
    const Clock::time_point wake = std::max(std::min(due, deadline), busyUntil_);
    if (Clock::now() < wake) WaitUntil(wake);
    if (Clock::now() >= deadline) return condition();
    if (Clock::now() < due) continue;
    if (timerFirst) {
      const TimerId id = next->first;
      next->second.due = Clock::now() + next->second.interval;
      if (sink_) sink_->TimerTick(id);
    } else {
      auto task = std::move(delayed_.begin()->second);
      delayed_.erase(delayed_.begin());
      task();
    }
  }
  return true;
}

}  // namespace lu14
