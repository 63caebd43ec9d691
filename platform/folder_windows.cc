// A folder held open while it is walked: its listing, and its entries opened through it.
#include "platform/folder_windows.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

#include "platform/file_windows.h"
#include "platform/open_in_folder_windows.h"

namespace morvenit {

namespace {

constexpr NTSTATUS kStatusNoSuchFile = static_cast<NTSTATUS>(0xC000000F);
constexpr NTSTATUS kStatusNoMoreFiles = static_cast<NTSTATUS>(0x80000006);

class WindowsFolder : public Folder {
 public:
  // As NewWindowsFolder; `object_path`: Wine alone, what its object path is taken to be, or empty.
  WindowsFolder(ScopedHandle handle, Text path, Text object_path = Text())
      : handle_(std::make_shared<ScopedHandle>(std::move(handle))),
        path_(std::move(path)),
        object_path_(std::move(object_path)) {}

  std::vector<FolderEntry> List() override {
    std::vector<FolderEntry> entries;
    bool long_ids = false;
    ForEachRecord<FILE_ID_BOTH_DIR_INFO>(
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
          if (Missing(entry.id)) long_ids = true;
          entries.push_back(std::move(entry));
        });
    if (long_ids) {
      // ReFS numbers its files in 128 bits; where the short number is missing, the long one.
      ForEachRecord<FILE_ID_EXTD_DIR_INFO>(
          kFileIdExtdDirectoryInformation, [&](const FILE_ID_EXTD_DIR_INFO& record) {
            const Text name(record.FileName, record.FileNameLength / sizeof(wchar_t));
            for (FolderEntry& entry : entries) {
              if (entry.name == name && Missing(entry.id)) {
                std::copy(std::begin(record.FileId.Identifier), std::end(record.FileId.Identifier),
                          entry.long_id.begin());
              }
            }
          });
    }
    return entries;
  }

  std::unique_ptr<Folder> OpenSubfolder(const FolderEntry& entry) override {
    Look look;
    ScopedHandle handle = OpenEntry(handle_->get(), object_path_, entry, PathOf(entry),
                                    kFolderAccess, FILE_DIRECTORY_FILE, kShareAll, look);
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
    Text unix_path;
    if (!(entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      try {
        ScopedHandle handle =
            OpenEntry(handle_->get(), object_path_, entry, PathOf(entry),
                      kAttributeAccess | kDataAccess, FILE_NON_DIRECTORY_FILE, 0, look, &unix_path);
        if (!handle.valid()) return nullptr;
        if (!(look.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
          return NewWindowsFile(ScopedHandle(), std::move(handle), handle_, ReachableName(entry),
                                PathOf(entry), unix_path);
        }
      } catch (const Failure& failure) {
        if (failure.number != kFailAccess) throw;
      }
    }
    ScopedHandle handle =
        OpenEntry(handle_->get(), object_path_, entry, PathOf(entry), kAttributeAccess,
                  FILE_NON_DIRECTORY_FILE, kShareAll, look, &unix_path);
    if (!handle.valid()) return nullptr;
    return NewWindowsFile(std::move(handle), ScopedHandle(), handle_, ReachableName(entry),
                          PathOf(entry), unix_path);
  }

 private:
  // Calls `each` for every record of the folder's listing of kind `info_class`. An empty drive
  // root lists nothing at all: it has no "." and "..".
  template <typename Record, typename Each>
  void ForEachRecord(ULONG info_class, Each each) {
    std::vector<LONGLONG> buffer(64 * 1024 / sizeof(LONGLONG));  // whole records, aligned
    for (BOOLEAN restart = TRUE;; restart = FALSE) {
      IO_STATUS_BLOCK io;
      const NTSTATUS status =
          Nt().QueryDirectoryFile(handle_->get(), nullptr, nullptr, nullptr, &io, buffer.data(),
                                  static_cast<ULONG>(buffer.size() * sizeof(LONGLONG)), info_class,
                                  FALSE, nullptr, restart);
      if (status == kStatusNoMoreFiles || (restart && status == kStatusNoSuchFile)) return;
      if (status < 0) throw FromStatus(status);
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
  // Wine alone: as last looked up or taken from the parent's; empty until the first entry is
  // opened.
  Text object_path_;
};

}  // namespace

std::unique_ptr<Folder> NewWindowsFolder(ScopedHandle handle, Text path) {
  return std::make_unique<WindowsFolder>(std::move(handle), std::move(path));
}

}  // namespace morvenit
