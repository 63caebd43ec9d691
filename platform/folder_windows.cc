// A folder held open while it is walked: its listing, and its entries opened through it.
#include "platform/folder_windows.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/file_windows.h"
#include "platform/open_in_folder_windows.h"
#include "platform/wine_only.h"

namespace morvenit {

namespace {

constexpr NTSTATUS kStatusNoSuchFile = static_cast<NTSTATUS>(0xC000000F);
constexpr NTSTATUS kStatusNoMoreFiles = static_cast<NTSTATUS>(0x80000006);

// Whether a listing failed with `status` because the file system knows no listing of its kind:
// [MS-FSA]'s answer for a class it does not define (Windows before 8, FAT), WinFsp's for any it
// does not serve, and what file servers and other drivers answer instead.
bool KnowsNoSuchListing(NTSTATUS status) {
  constexpr NTSTATUS kRefusals[] = {
      static_cast<NTSTATUS>(0xC0000003),  // STATUS_INVALID_INFO_CLASS
      static_cast<NTSTATUS>(0xC0000002),  // STATUS_NOT_IMPLEMENTED
      static_cast<NTSTATUS>(0xC000000D),  // STATUS_INVALID_PARAMETER
      static_cast<NTSTATUS>(0xC0000010),  // STATUS_INVALID_DEVICE_REQUEST
      static_cast<NTSTATUS>(0xC00000BB),  // STATUS_NOT_SUPPORTED
      static_cast<NTSTATUS>(0xC0000148),  // STATUS_INVALID_LEVEL
  };
  return std::find(std::begin(kRefusals), std::end(kRefusals), status) != std::end(kRefusals);
}

class WindowsFolder : public Folder {
 public:
  // As NewWindowsFolder; `object_path`: Wine alone, what its object path is taken to be, or empty.
  WindowsFolder(ScopedHandle handle, Text path, Text object_path = Text())
      : handle_(std::make_shared<ScopedHandle>(std::move(handle))),
        path_(std::move(path)),
        object_path_(std::move(object_path)) {}

  std::vector<FolderEntry> List() override {
    // Wine alone: Wine opens every entry along the path it opened the folder by. A folder swapped
    // for a link since (say, a named one while the named files went first) would have them all
    // opened elsewhere.
    // The path it was reached by is tried first, every name as it is (Wine's own names of things
    // drop trailing dots and spaces, and lead elsewhere then); asking Wine where it is now (moved
    // with a folder above it) costs a look along every name of the path.
    if (Nt().under_wine && FolderMovedFrom(NtPath(path_), handle_->get())) {
      object_path_ = ObjectPath(handle_->get());
      if (FolderMovedFrom(object_path_, handle_->get())) throw Changed();
    }
    std::vector<FolderEntry> entries;
    // The entries the listing gives no number, by name.
    std::unordered_map<Text, size_t> unnumbered;
    NTSTATUS status = ForEachRecord<FILE_ID_BOTH_DIR_INFO>(
        kFileIdBothDirectoryInformation, [&](const FILE_ID_BOTH_DIR_INFO& record) {
          FolderEntry entry;
          entry.name.assign(record.FileName, record.FileNameLength / sizeof(wchar_t));
          if (entry.name == L"." || entry.name == L"..") return;
          entry.short_name.assign(record.ShortName, record.ShortNameLength / sizeof(wchar_t));
          entry.attributes = record.FileAttributes;
          // For a reparse point the listing gives its tag where extended attributes would be.
          // Wine alone lists a link to a folder as a reparse point of no kind: its only kind.
          if (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            entry.reparse_tag = record.EaSize;
            if (Nt().under_wine && entry.reparse_tag == 0) entry.reparse_tag = kReparseTagSymlink;
          }
          entry.id = static_cast<uint64_t>(record.FileId.QuadPart);
          entry.times = {record.CreationTime.QuadPart, record.LastWriteTime.QuadPart,
                         record.ChangeTime.QuadPart};
          entry.length = static_cast<uint64_t>(record.EndOfFile.QuadPart);
          if (Missing(entry.id)) unnumbered.emplace(entry.name, entries.size());
          entries.push_back(std::move(entry));
        });
    if (status < 0) throw FromStatus(status);
    if (unnumbered.empty()) return entries;
    // ReFS numbers its files in 128 bits; where the short number is missing, the long one. A file
    // system that numbers nothing knows no such listing (WinFsp's drives: vaults, cloud and SSH
    // drives, whose numbers may all be 0): its entries are proved by their times and length.
    status = ForEachRecord<FILE_ID_EXTD_DIR_INFO>(
        kFileIdExtdDirectoryInformation, [&](const FILE_ID_EXTD_DIR_INFO& record) {
          const auto found =
              unnumbered.find(Text(record.FileName, record.FileNameLength / sizeof(wchar_t)));
          if (found == unnumbered.end()) return;
          std::copy(std::begin(record.FileId.Identifier), std::end(record.FileId.Identifier),
                    entries[found->second].long_id.begin());
        });
    if (status < 0 && !KnowsNoSuchListing(status)) throw FromStatus(status);
    return entries;
  }

  std::unique_ptr<Folder> OpenSubfolder(const FolderEntry& entry) override {
    Look look;
    ScopedHandle handle;
    bool opened = false;
    // Wine alone: held with the right its flush needs too, so that the flush after its files'
    // deletes opens nothing more: every open costs Wine's server a walk along the whole path. On
    // Windows a handle that may add files would keep others from opening the folder unless they
    // share writing, and the flush's own open costs next to nothing there.
    if (Nt().under_wine) {
      try {
        handle =
            OpenEntry(handle_->get(), object_path_, entry, PathOf(entry),
                      kFolderAccess | kFolderFlushAccess, FILE_DIRECTORY_FILE, kShareAll, look);
        opened = true;
      } catch (const Failure& failure) {
        if (failure.number != kFailAccess) throw;  // refused: walked all the same, unflushed
      }
    }
    if (!opened) {
      handle = OpenEntry(handle_->get(), object_path_, entry, PathOf(entry), kFolderAccess,
                         FILE_DIRECTORY_FILE, kShareAll, look);
    }
    if (!handle.valid()) return nullptr;
    // Wine alone: its object path taken to be this one's and its name, where this one's is known.
    // Asking Wine costs as many looks as the path has names, each along the path so far; a wrong
    // guess costs only that question, asked when its first file does not match.
    Text object_path;
    if (Nt().under_wine && !object_path_.empty()) {
      object_path = object_path_ + (object_path_.back() == L'\\' ? L"" : L"\\") + entry.name;
    }
    return std::make_unique<WindowsFolder>(std::move(handle), PathOf(entry),
                                           std::move(object_path));
  }

  std::unique_ptr<OpenFile> OpenFileEntry(const FolderEntry& entry) override {
    // Most files open for writing at once, which saves Wine two more trips to its server a file.
    // Nothing is written before the handle is known to be the entry itself. A file that is
    // read-only, open elsewhere, or a reparse point (whose filter must see the writes) is opened
    // for its attributes, and for writing later.
    Look look;
    WineFile wine;
    if (!(entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      try {
        ScopedHandle handle = OpenEntry(handle_->get(), object_path_, entry, PathOf(entry),
                                        kAttributeAccess | kDataAccess, FILE_NON_DIRECTORY_FILE, 0,
                                        look, &wine.unix_path, &wine.object_path);
        if (!handle.valid()) return nullptr;
        if (!(look.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
          return NewWindowsFile(ScopedHandle(), std::move(handle), handle_, ReachableName(entry),
                                PathOf(entry), std::move(wine));
        }
      } catch (const Failure& failure) {
        if (failure.number != kFailAccess) throw;
      }
    }
    ScopedHandle handle =
        OpenEntry(handle_->get(), object_path_, entry, PathOf(entry), kAttributeAccess,
                  FILE_NON_DIRECTORY_FILE, kShareAll, look, &wine.unix_path, &wine.object_path);
    if (!handle.valid()) return nullptr;
    return NewWindowsFile(std::move(handle), ScopedHandle(), handle_, ReachableName(entry),
                          PathOf(entry), std::move(wine));
  }

 private:
  // Calls `each` for every record of the folder's listing of kind `info_class`; returns the status
  // of a query that failed, after the records before it. An empty drive root lists nothing at
  // all: it has no "." and "..".
  template <typename Record, typename Each>
  NTSTATUS ForEachRecord(ULONG info_class, Each each) {
    std::vector<LONGLONG> buffer(64 * 1024 / sizeof(LONGLONG));  // whole records, aligned
    for (BOOLEAN restart = TRUE;; restart = FALSE) {
      IO_STATUS_BLOCK io;
      const NTSTATUS status =
          Nt().QueryDirectoryFile(handle_->get(), nullptr, nullptr, nullptr, &io, buffer.data(),
                                  static_cast<ULONG>(buffer.size() * sizeof(LONGLONG)), info_class,
                                  FALSE, nullptr, restart);
      if (status == kStatusNoMoreFiles || (restart && status == kStatusNoSuchFile)) return 0;
      if (status < 0) return status;
      for (const char* at = reinterpret_cast<const char*>(buffer.data());;) {
        const auto* record = reinterpret_cast<const Record*>(at);
        each(*record);
        if (record->NextEntryOffset == 0) break;
        at += record->NextEntryOffset;
      }
    }
  }

  Text PathOf(const FolderEntry& entry) const {
    return path_ + (path_.back() == L'\\' ? L"" : L"\\") + ReachableName(entry);
  }

  SharedHandle handle_;
  Text path_;
  // Wine alone: the name Wine knows it by, as last looked up or taken from the parent's; empty
  // until first needed.
  Text object_path_;
};

}  // namespace

std::unique_ptr<Folder> NewWindowsFolder(ScopedHandle handle, Text path) {
  return std::make_unique<WindowsFolder>(std::move(handle), std::move(path));
}

}  // namespace morvenit
