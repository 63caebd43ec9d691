// The renames and deletes of a batch of files in flight, each flushed already. What a folder keeps
// of a deleted name should say nothing: every name is first renamed to a neutral one of the same
// length, which overwrites it where it stands, then to the shortest one that is free; then the
// files are deleted, in the order they were written. The calls mostly wait (for the Wine server,
// or for the folder), so each step is shared out among a few workers.
#ifndef MORVENIT_ENGINE_SCRUB_H_
#define MORVENIT_ENGINE_SCRUB_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "engine/worker_pool.h"
#include "platform/env.h"

namespace morvenit {

// A file handed to the files in flight (as InFlight::File), and what became of it.
struct FlightFile {
  Text path;                       // as the file display shows it
  std::unique_ptr<OpenFile> file;  // written, not yet flushed
  uint64_t pattern_end = 0;        // the length our writes left it
  FileInfo written;  // what it showed after our last write: another program's write moves it
  std::vector<std::unique_ptr<Writable>> streams;  // its named data streams, written too
  FileInfo original;                               // the attributes to give back if the file stays
  bool cleared = false;                            // whether they were changed
  std::optional<Failure> failure;                  // why it stays, once done
  // Why its delete may not last: the flush of the folder it went from failed. The first file of
  // that folder in its batch reports the folder as well.
  std::optional<Failure> folder_failure;
  bool reports_folder = false;
};

// One file of a batch that goes (its flush returned without failure), and how far its name went.
struct Going {
  FlightFile* file;
  bool in_place = false;  // its renames go through the folder held open (RenamesInPlace())
  bool renamed = false;   // it has a neutral name by now
};

// The neutral name a rename aims for: as long as the file's own, or the shortest that is free.
enum class NewName { kSameLength, kShortest };

// Renames every file that renames in place to a neutral name; one whose rename fails keeps the
// name it has. Files of the same folder share the names, so a name taken costs another try.
void RenameAll(WorkerPool& pool, std::vector<Going>& going, NewName name);

// Deletes the files in the order given, each once it shows nothing changed since its last
// overwrite; what takes long before each delete goes on at once. A file that stays gets its
// failure (NotRenamed(), KeepsGrowing(), WrittenAfter(), or the system's) and its own name back.
void DeleteInTurn(WorkerPool& pool, std::vector<Going>& going);

}  // namespace morvenit

#endif  // MORVENIT_ENGINE_SCRUB_H_
