#include "sim/SimFileSystem.h"

namespace lu14::sim {
namespace {
constexpr std::uint32_t kErrorPathNotFound = 3;
constexpr std::uint32_t kErrorAccessDenied = 5;

// What the last failed call of this thread gave as its reason: runtimes on
// several threads share one file system.
thread_local std::string lastError;

// Keeps what went wrong with `path` and returns `result`; an empty reason
// (no Documents folder at all) keeps none.
template <typename Result>
Result Failing(const Path& path, const char* reason, Result result) {
  lastError = *reason ? path.generic_string() + ": " + reason : std::string();
  return result;
}
}  // namespace

std::string SimFileSystem::LastError() { return lastError; }

// Writes land in the file system at once; the faults decide what a write,
// flush or close reports.
class SimFileSystem::File : public OutputFile {
 public:
  File(SimFileSystem& owner, Path path, std::shared_ptr<Bytes> contents)
      : owner_(owner), path_(std::move(path)), contents_(std::move(contents)) {}

  bool Write(std::span<const std::uint8_t> bytes) override {
    const std::lock_guard<std::mutex> hold(owner_.mutex_);
    if (closed_) return false;
    std::size_t fitting = bytes.size();
    if (owner_.freeSpace_) fitting = std::min(fitting, *owner_.freeSpace_);
    contents_->insert(contents_->end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(fitting));
    if (owner_.freeSpace_) *owner_.freeSpace_ -= fitting;
    return fitting == bytes.size() || Failing(path_, "No space left on device", false);
  }
  bool FlushToDisk() override {
    const std::lock_guard<std::mutex> hold(owner_.mutex_);
    return (!closed_ && !owner_.failFlush_) || Failing(path_, "Input/output error", false);
  }
  bool Close() override {
    const std::lock_guard<std::mutex> hold(owner_.mutex_);
    closed_ = true;
    return !owner_.failClose_ || Failing(path_, "Input/output error", false);
  }

 private:
  SimFileSystem& owner_;
  Path path_;
  std::shared_ptr<Bytes> contents_;
  bool closed_ = false;
};

SimFileSystem::SimFileSystem(std::optional<Path> documents) : documents_(std::move(documents)) {}

std::optional<Path> SimFileSystem::DocumentsFolder() {
  const std::lock_guard<std::mutex> hold(mutex_);
  if (!documents_) return Failing(Path(), "", std::optional<Path>());
  if (files_.contains(Key(*documents_))) return Failing(*documents_, "a file, not a folder", std::optional<Path>());
  for (Path level = Key(*documents_); !level.empty() && level != level.root_path(); level = level.parent_path()) {
    directories_.insert(level);
  }
  return documents_;
}

bool SimFileSystem::ParentExists(const Path& path) const {
  const Path parent = Key(path).parent_path();
  return parent == parent.root_path() || directories_.contains(parent);
}

std::uint32_t SimFileSystem::MakeDirectory(const Path& path) {
  const std::lock_guard<std::mutex> hold(mutex_);
  if (directories_.contains(Key(path)) || files_.contains(Key(path))) return kErrorAlreadyExists;
  if (!ParentExists(path)) return Failing(path.parent_path(), "no such folder", kErrorPathNotFound);
  if (failMakeDirectory_) return Failing(path, "Permission denied", kErrorAccessDenied);
  directories_.insert(Key(path));
  return 0;
}

std::unique_ptr<OutputFile> SimFileSystem::CreateOutputFile(const Path& path) {
  const std::lock_guard<std::mutex> hold(mutex_);
  if (!ParentExists(path)) return Failing(path.parent_path(), "no such folder", nullptr);
  if (locked_.contains(Key(path))) return Failing(path, "locked by another program", nullptr);
  if (directories_.contains(Key(path))) return Failing(path, "a folder", nullptr);
  auto contents = std::make_shared<Bytes>();
  files_[Key(path)] = contents;
  return std::make_unique<File>(*this, path, contents);
}

MoveOutcome SimFileSystem::MoveFileNoReplace(const Path& from, const Path& to) {
  const std::lock_guard<std::mutex> hold(mutex_);
  const auto source = files_.find(Key(from));
  if (failMoves_ || source == files_.end() || !ParentExists(to) || locked_.contains(Key(from))) {
    return Failing(to, "could not be moved there", MoveOutcome::Failed);
  }
  if (files_.contains(Key(to)) || directories_.contains(Key(to)) || locked_.contains(Key(to))) {
    return MoveOutcome::TargetExists;
  }
  std::shared_ptr<Bytes> contents = source->second;
  files_.erase(source);
  files_[Key(to)] = std::move(contents);
  return MoveOutcome::Moved;
}

bool SimFileSystem::RemoveFile(const Path& path) {
  const std::lock_guard<std::mutex> hold(mutex_);
  if (locked_.contains(Key(path))) return Failing(path, "locked by another program", false);
  return files_.erase(Key(path)) == 1 || Failing(path, "no such file", false);
}

bool SimFileSystem::DirectoryExists(const Path& path) const {
  const std::lock_guard<std::mutex> hold(mutex_);
  return directories_.contains(Key(path));
}

std::optional<Bytes> SimFileSystem::FileContents(const Path& path) const {
  const std::lock_guard<std::mutex> hold(mutex_);
  const auto found = files_.find(Key(path));
  if (found == files_.end()) return std::nullopt;
  return *found->second;
}

std::vector<Path> SimFileSystem::FilesIn(const Path& directory) const {
  const std::lock_guard<std::mutex> hold(mutex_);
  std::vector<Path> found;
  for (const auto& [path, contents] : files_) {
    if (path.parent_path() == Key(directory)) found.push_back(path);
  }
  return found;
}

}  // namespace lu14::sim
