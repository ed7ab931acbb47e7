#include "web/kept_templates.h"

#include "platform/file_system.h"
#include "platform/kept_files.h"

namespace web {

std::shared_ptr<const TScannedTemplate> ScannedTemplateFile(std::string_view path) {
  static platform::TKeptFiles<TScannedTemplate> kept(64);
  // Opened as in a CGI run, which raises the same error for a file that is not there.
  return kept.Value(path, [](std::string_view scannedPath) {
    platform::TFileReader file(scannedPath);
    return TScannedTemplate::Scan(
        [&file](char* bytes, std::size_t count) { return file.Read(bytes, count); });
  });
}

}  // namespace web
