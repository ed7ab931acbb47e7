// What a process makes of its installation's files (a template scanned, an SQL file's
// lines, the aliases of the alias file), kept from request to request by a process that
// serves many: each value while its file's state (TFileState: device, inode, size,
// modification and change time) stays the one it was read in, so that a file changed on
// disk is read again by the next request that uses it. A file changed in the last
// seconds before it was read is read again at every use (TFileState::Settled). A process
// that serves one request (CGI) reads the file at every use and keeps nothing.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "platform/request_end.h"

namespace platform {

template <class T>
class TKeptFiles {
 public:
  // Keeps at most mostFiles values, so that an installation naming many files cannot
  // grow the process without end: past it, every kept value is dropped.
  explicit TKeptFiles(std::size_t mostFiles) : MostFiles_(mostFiles) {}
  TKeptFiles(const TKeptFiles&) = delete;
  TKeptFiles& operator=(const TKeptFiles&) = delete;

  // The value of the file at path ("\" separates folders): the kept one when the file's
  // state is the one it was made from, else read(path)'s, then kept when the file is
  // settled. What read raises passes on and keeps nothing. The value is shared with the
  // caller, so it stays alive while a nested use drops the kept ones.
  template <class Read>
  std::shared_ptr<const T> Value(std::string_view path, Read&& read) {
    if (!ServingManyRequests()) return std::make_shared<const T>(read(path));
    // The state is taken before the file is read: a change after it makes the next use
    // see another state, never the kept one.
    const std::optional<TFileState> state = RegularFileState(path);
    auto found = Kept_.find(path);
    if (found != Kept_.end()) {
      if (state && found->second.State == *state) return found->second.Value;
      Kept_.erase(found);
    }
    auto value = std::make_shared<const T>(read(path));
    if (state && state->Settled()) {
      if (Kept_.size() >= MostFiles_) Kept_.clear();
      Kept_.emplace(std::string(path), Kept{*state, value});
    }
    return value;
  }

 private:
  struct Kept {
    TFileState State;
    std::shared_ptr<const T> Value;
  };
  std::size_t MostFiles_;
  std::map<std::string, Kept, std::less<>> Kept_;
};

}  // namespace platform
