// The note of a search index the alias's searches pass by: an index built for another
// matching mode than the alias's MATCH, one not current (a schema changed, too many
// pending rows) or damaged is never used, every search reads every book, and nothing
// else would tell the operator. Written once into the log; the marker file beside the
// log keeps other processes from writing it again, and goes when the index answers the
// alias, so that a later fault is noted anew. A catalogue without an index, one whose
// index is being built, and a statement the index does not narrow note nothing.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "config/error_log.h"
#include "db/engine.h"
#include "db/index_fit.h"
#include "module/japanese_texts.h"
#include "module/main_mod.h"

namespace module {

namespace {

// Beside Error.txt, in the program's current folder; never served (only the program is).
constexpr const char* kIndexNoteMarker = "IndexNote.txt";

}  // namespace

void TMainMod::NoteIndexPassedBy() {
  // Only a SQLite catalogue holds such an index; a process that searches a PostgreSQL
  // alias has loaded its driver.
  if (db::PostgresPluginLoaded()) return;
  db::Database& catalogue = db::OpenDatabase(qMaster->DatabaseName());
  const db::IndexUnused why = catalogue.LastIndexUnused();
  if (why == db::IndexUnused::kNone || why == db::IndexUnused::kNotNarrowable ||
      why == db::IndexUnused::kNoIndex || why == db::IndexUnused::kHalfBuilt) {
    std::remove(kIndexNoteMarker);
    return;
  }
  const db::MatchMode searched = qMaster->LikeMatch();
  const auto built = why == db::IndexUnused::kOtherMode
                         ? db::searchindex::IndexPassedBy(catalogue, searched)
                         : std::nullopt;
  const int marker = ::open(kIndexNoteMarker, O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (marker < 0 && errno == EEXIST) return;
  const std::string note =
      built ? std::string(texts::kIndexPassedByHead) + db::searchindex::AliasMatchName(*built) +
                  std::string(texts::kIndexPassedByMiddle) +
                  db::searchindex::AliasMatchName(searched) +
                  std::string(texts::kIndexPassedByTail) + DbAlias
            : std::string(texts::kIndexUnusedHead) + std::string(db::IndexUnusedText(why)) +
                  std::string(texts::kIndexUnusedTail) + DbAlias;
  if (marker >= 0) {
    // The marker holds the note too, so that whoever finds the file knows what it is.
    const bool written =
        ::write(marker, note.data(), note.size()) == static_cast<ssize_t>(note.size());
    ::close(marker);
    if (!written) std::remove(kIndexNoteMarker);
  }
  // A marker that cannot be created (a folder closed to writing) leaves no way to write
  // the note once; the log then refuses it too, and its writer says so on standard error.
  config::WriteErrorLogEntry("SearchIndex", note);
}

}  // namespace module
