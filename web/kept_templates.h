// The template files a process expands, scanned. A CGI run scans a file each time it is
// asked for; a process that serves request after request keeps each file scanned while
// the file's state (platform::TFileState) stays the one it was read in, so that a
// template changed on disk is read again by the next request that asks for it.
#pragma once

#include <memory>
#include <string_view>

#include "web/scanned_template.h"

namespace web {

// The template file at path ("\" separates folders), scanned. Raises EFOpenError
// "ファイル <path> は開けません" when the file cannot be opened.
std::shared_ptr<const TScannedTemplate> ScannedTemplateFile(std::string_view path);

}  // namespace web
