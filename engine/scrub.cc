#include "engine/scrub.h"

#include <map>
#include <mutex>

namespace morvenit {

namespace {

// Workers beside the calling one for each step: the calls mostly wait, for the Wine server or for
// the folder.
constexpr size_t kHelpers = 3;

size_t NameLength(const Text& path) { return path.size() - path.find_last_of(L"\\/") - 1; }

// Neutral names, from a running count: "0", "1", ... "z", "10", ... in base 36.
Text Base36(uint64_t count) {
  Text digits;
  do {
    digits.insert(digits.begin(), L"0123456789abcdefghijklmnopqrstuvwxyz"[count % 36]);
    count /= 36;
  } while (count > 0);
  return digits;
}

// Renames the file to the next neutral name that is free: padded with zeros to `length`, or as
// short as the count allows where `length` is 0; `next()` gives the count to try. A rename never
// replaces anything, so a name taken costs only another try; a few tries, as a refusal for any
// other reason would fail them all.
template <typename Next>
bool RenameTo(OpenFile& file, size_t length, Next next) {
  for (int tries = 0; tries < 8; ++tries) {
    const Text digits = Base36(next());
    if (length != 0 && digits.size() > length) return false;
    try {
      file.Rename(Text(length > digits.size() ? length - digits.size() : 0, L'0') + digits);
      return true;
    } catch (const Failure&) {
    }
  }
  return false;
}

}  // namespace

void RenameAll(WorkerPool& pool, std::vector<Going>& going, NewName name) {
  Mutex mutex;                        // over the counts
  std::map<size_t, uint64_t> counts;  // the next neutral name to try, by length (0: the shortest)
  pool.ForEach(going.size(), kHelpers, [&](size_t i) {
    Going& one = going[i];
    if (!one.in_place) return;
    const size_t own = NameLength(one.file->path);
    // A name of one character is as short as any.
    if (name == NewName::kShortest && one.renamed && own == 1) return;
    const size_t length = name == NewName::kSameLength ? own : 0;
    if (RenameTo(*one.file->file, length, [&] {
          std::lock_guard lock(mutex);
          return counts[length]++;
        })) {
      one.renamed = true;
    }
  });
}

void DeleteInTurn(WorkerPool& pool, std::vector<Going>& going) {
  Mutex mutex;  // over the turn
  size_t turn = 0;
  ConditionVariable turn_taken;
  pool.ForEach(going.size(), kHelpers, [&](size_t i) {
    FlightFile& one = *going[i].file;
    OpenFile& file = *one.file;
    std::optional<Failure> failure;
    try {
      // Deleted under its own name, a file's name could stay readable on the disk.
      if (going[i].in_place && !going[i].renamed) throw NotRenamed();
      // Changed since it was last overwritten: what was written may be on the disk by now (its
      // writer's own flush), and covering it would flush while the batch's names wait in their
      // folders.
      const FileInfo now = file.Info();
      if (now.length > one.pattern_end) throw KeepsGrowing();
      if (!SameTimes(now, one.written)) throw WrittenAfter();
      file.PrepareDelete();
    } catch (const Failure& prepare_failure) {
      failure = prepare_failure;
    }
    std::unique_lock lock(mutex);
    turn_taken.wait(lock, [&] { return turn == i; });
    try {
      if (!failure) file.Delete();
    } catch (const Failure& delete_failure) {
      failure = delete_failure;
    }
    if (failure) one.failure = failure;
    // A file that stays is reported by its name: give it back if nothing took it meanwhile.
    if (failure && going[i].renamed) {
      try {
        file.Rename(one.path.substr(one.path.find_last_of(L"\\/") + 1));
      } catch (const Failure&) {
      }
    }
    ++turn;
    turn_taken.notify_all();
  });
}

}  // namespace morvenit
