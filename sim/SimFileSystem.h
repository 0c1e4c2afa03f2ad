// An in-memory file system for the simulated runtime, with the faults a user's
// disk can show: full, a locked file, failing flush, close or rename. Runtimes
// on several threads may share one: each call holds its lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ports/Shell.h"

namespace lu14::sim {

using Path = std::filesystem::path;
using Bytes = std::vector<std::uint8_t>;

class SimFileSystem {
 public:
  // The user's Documents folder; "C:/Users/user/Documents" unless changed.
  explicit SimFileSystem(std::optional<Path> documents = Path("C:/Users/user/Documents"));

  // --- what the runtime serves ---
  std::optional<Path> DocumentsFolder();  // created (with its parents) on demand
  std::uint32_t MakeDirectory(const Path& path);
  std::unique_ptr<OutputFile> CreateOutputFile(const Path& path);
  MoveOutcome MoveFileNoReplace(const Path& from, const Path& to);
  bool RemoveFile(const Path& path);
  // What the last call of this thread that failed gave as its reason, with its path.
  static std::string LastError();

  // --- faults ---
  // Bytes that still fit on the disk; writes past them fail. Nothing: unlimited.
  void SetFreeSpace(std::optional<std::size_t> bytes) { freeSpace_ = bytes; }
  // A locked file cannot be created, moved or removed.
  void LockFile(const Path& path) { locked_.insert(path.lexically_normal()); }
  void FailFlush(bool fail) { failFlush_ = fail; }
  void FailClose(bool fail) { failClose_ = fail; }
  void FailMoves(bool fail) { failMoves_ = fail; }
  // Directories cannot be made (access denied).
  void FailMakeDirectory(bool fail) { failMakeDirectory_ = fail; }

  // --- inspection ---
  bool DirectoryExists(const Path& path) const;
  std::optional<Bytes> FileContents(const Path& path) const;
  std::vector<Path> FilesIn(const Path& directory) const;

 private:
  class File;

  static Path Key(const Path& path) { return path.lexically_normal(); }
  bool ParentExists(const Path& path) const;

  mutable std::mutex mutex_;
  std::optional<Path> documents_;
  std::set<Path> directories_;
  std::map<Path, std::shared_ptr<Bytes>> files_;
  std::set<Path> locked_;
  std::optional<std::size_t> freeSpace_;
  bool failFlush_ = false;
  bool failClose_ = false;
  bool failMoves_ = false;
  bool failMakeDirectory_ = false;
};

}  // namespace lu14::sim
