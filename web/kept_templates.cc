#include "web/kept_templates.h"

#include <map>
#include <string>

#include "platform/file_system.h"
#include "platform/request_end.h"

namespace web {

namespace {

// Reads and scans the file.
std::shared_ptr<const TScannedTemplate> ScanFile(std::string_view path) {
  platform::TFileReader file(path);
  return std::make_shared<const TScannedTemplate>(TScannedTemplate::Scan(
      [&file](char* bytes, std::size_t count) { return file.Read(bytes, count); }));
}

// A scanned file with the state it was read in.
struct KeptTemplate {
  platform::TFileState state;
  std::shared_ptr<const TScannedTemplate> scanned;
};

// At most this many files are kept, so that a site naming many templates cannot grow
// the process without end: past it, every kept file is dropped.
constexpr std::size_t kMostKeptTemplates = 64;

}  // namespace

std::shared_ptr<const TScannedTemplate> ScannedTemplateFile(std::string_view path) {
  if (!platform::ServingManyRequests()) return ScanFile(path);
  // Shared with the callers: a template being expanded stays alive while an expansion
  // inside it (a row template) drops the kept ones.
  static std::map<std::string, KeptTemplate, std::less<>> kept;
  // The state is taken before the file is read: a change after it makes the next
  // request see another state, never the kept one.
  const std::optional<platform::TFileState> state = platform::RegularFileState(path);
  auto found = kept.find(path);
  if (found != kept.end()) {
    if (state && found->second.state == *state) return found->second.scanned;
    kept.erase(found);
  }
  // Opened as in a CGI run, which raises the same error for a file that is not there.
  std::shared_ptr<const TScannedTemplate> scanned = ScanFile(path);
  if (state && state->Settled()) {
    if (kept.size() >= kMostKeptTemplates) kept.clear();
    kept.emplace(std::string(path), KeptTemplate{*state, scanned});
  }
  return scanned;
}

}  // namespace web
