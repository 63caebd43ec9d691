// A file found or named, open for its attributes or for writing: overwrite, flush, streams,
// renames through its folder, delete. A file is renamed through the folder that holds it.
#include "platform/file_windows.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "platform/wine_only.h"

namespace morvenit {

namespace {

constexpr NTSTATUS kStatusBufferOverflow = static_cast<NTSTATUS>(0x80000005);

// A folder's flush that failed with `error`: a file system that flushes no folder ("invalid
// function", a network share) has nothing to make durable; anything else is a failing device.
void ThrowUnlessUnsupported(DWORD error) {
  if (error != ERROR_INVALID_FUNCTION && error != ERROR_NOT_SUPPORTED) {
    throw FailureFromWin32(error);
  }
}

void WriteAll(HANDLE handle, const char* data, size_t size) {
  while (size > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(handle, data, chunk, &written, nullptr)) throw LastFailure();
    if (written == 0) throw FailureFromWin32(ERROR_DISK_FULL);
    data += written;
    size -= written;
  }
}

// A named data stream, open for writing.
class WindowsStream : public Writable {
 public:
  explicit WindowsStream(ScopedHandle stream) : stream_(std::move(stream)) {}
  void Write(const char* data, size_t size) override { WriteAll(stream_.get(), data, size); }
  void Flush() override {
    if (!::FlushFileBuffers(stream_.get())) throw LastFailure();
  }
  void Close() override {
    if (stream_.valid() && !::CloseHandle(stream_.release())) throw LastFailure();
  }

 private:
  ScopedHandle stream_;
};

class WindowsFile : public OpenFile {
 public:
  // As NewWindowsFile.
  WindowsFile(ScopedHandle attributes, ScopedHandle data, SharedHandle folder, Text name, Text path,
              WineFile wine)
      : attributes_(std::move(attributes)),
        data_(std::move(data)),
        folder_(std::move(folder)),
        name_(std::move(name)),
        path_(std::move(path)),
        wine_(std::move(wine)) {
    if (Nt().under_wine && wine_.unix_path.empty()) wine_.unix_path = UnixNtPath(path_);
  }

  FileInfo Info() override {
    // Two plain queries: the whole handle information costs Wine a look at the volume too.
    const auto basic = MustQuery<FILE_BASIC_INFO>(Handle(), kFileBasicInformation);
    const auto standard = MustQuery<FILE_STANDARD_INFO>(Handle(), kFileStandardInformation);
    FileInfo info{basic.FileAttributes, static_cast<uint64_t>(standard.EndOfFile.QuadPart),
                  standard.NumberOfLinks};
    if (info.attributes & FILE_ATTRIBUTE_REPARSE_POINT) info.reparse_tag = LookAt(Handle()).tag;
    // A file's number stays while it is open: asked once, where each Info() would ask again.
    if (!number_) number_ = NumberOf(Handle(), wine_.object_path);
    info.number = *number_;
    // Wine alone: a Linux program may write to the file while it is open here, and its times
    // tell. On Windows the file is shared with nobody while it is written: nobody else can.
    if (Nt().under_wine) {
      info.write_time = static_cast<uint64_t>(basic.LastWriteTime.QuadPart);
      info.change_time = static_cast<uint64_t>(basic.ChangeTime.QuadPart);
    }
    return info;
  }

  void SetAttributes(uint32_t attributes) override {
    FILE_BASIC_INFO basic{};  // times of zero are left as they are
    basic.FileAttributes = attributes;
    if (!::SetFileInformationByHandle(Handle(), FileBasicInfo, &basic, sizeof basic)) {
      throw AsRefused(LastFailure());
    }
  }

  void BeginWriting() override {
    if (data_.valid()) return;
    // The same file again, never what its name leads to by now, and through whatever filter
    // keeps its data (a cloud file's sees the writes); shared with nobody, so no one reads a
    // half-overwritten file and nobody else's handle keeps it alive after the delete.
    try {
      data_ = ReopenSame(attributes_.get(), kDataAccess | SYNCHRONIZE, FILE_NON_DIRECTORY_FILE, 0);
    } catch (const Failure& failure) {
      throw AsRefused(failure);
    }
  }

  void Write(const char* data, size_t size) override {
    try {
      WriteAll(data_.get(), data, size);
    } catch (const Failure& failure) {
      throw AsRefused(failure);
    }
  }

  std::vector<StreamInfo> Streams() override {
    std::vector<LONGLONG> buffer(8 * 1024);
    NTSTATUS status;
    for (;;) {
      IO_STATUS_BLOCK io;
      status = Nt().QueryInformationFile(data_.get(), &io, buffer.data(),
                                         static_cast<ULONG>(buffer.size() * sizeof(LONGLONG)),
                                         kFileStreamInformation);
      if (status != kStatusBufferOverflow) break;
      buffer.resize(buffer.size() * 2);
    }
    if (status < 0) {
      // No streams at all, or a file system (FAT, Wine) that keeps or shows none.
      const DWORD error = Nt().StatusToDosError(status);
      if (error == ERROR_HANDLE_EOF || error == ERROR_INVALID_FUNCTION ||
          error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
          error == ERROR_CALL_NOT_IMPLEMENTED) {
        return {};
      }
      throw FromStatus(status);
    }
    std::vector<StreamInfo> streams;
    for (const char* at = reinterpret_cast<const char*>(buffer.data());;) {
      const auto* record = reinterpret_cast<const FILE_STREAM_INFO*>(at);
      // ":name:$DATA"; the main stream is "::$DATA".
      const Text full(record->StreamName, record->StreamNameLength / sizeof(wchar_t));
      const size_t type = full.rfind(L":$DATA");
      if (full.size() > 1 && type != Text::npos && type > 1) {
        streams.push_back(
            {full.substr(1, type - 1), static_cast<uint64_t>(record->StreamSize.QuadPart)});
      }
      if (record->NextEntryOffset == 0) break;
      at += record->NextEntryOffset;
    }
    return streams;
  }

  std::unique_ptr<Writable> OpenStream(const Text& name) override {
    // Reached through the file itself, never through a path. While our own open of the file may
    // delete it, the file system lets another stream of it open only if that open lets it.
    ScopedHandle stream;
    const NTSTATUS status =
        OpenIn(data_.get(), L":" + name + L":$DATA", GENERIC_READ | GENERIC_WRITE | SYNCHRONIZE,
               FILE_NON_DIRECTORY_FILE, stream, FILE_SHARE_DELETE);
    if (status < 0) throw FromStatus(status);
    return std::make_unique<WindowsStream>(std::move(stream));
  }

  void Flush() override {
    if (!::FlushFileBuffers(data_.get())) throw AsRefused(LastFailure());
  }

  void Rewind() override {
    if (!::SetFilePointerEx(data_.get(), LARGE_INTEGER{}, nullptr, FILE_BEGIN)) throw LastFailure();
  }

  // Wine alone: Wine writes and flushes (an fsync) with no lock between them, and Linux writes a
  // file's pages out behind the writer only once the cache is far fuller. Windows holds a
  // synchronous handle's writes while it flushes, and writes its cache out behind the writer.
  bool FlushesWhileWritten() override { return Nt().under_wine; }

  void Close() override {
    attributes_.Reset();
    if (!data_.valid()) return;
    if (!::CloseHandle(data_.release())) throw LastFailure();
  }

  // Wine renames a file from the path it was opened by, checking nothing: a folder on that path
  // swapped for a link would have the rename move a file that was never named. On Windows a file
  // whose folder is not known cannot be renamed, and so is left and reported.
  bool RenamesInPlace() override { return !Nt().under_wine; }

  void Rename(const Text& name) override {
    if (!RenamesInPlace() || !folder_) throw FailureFromWin32(ERROR_NOT_SUPPORTED);
    // A bare name relative to the folder held open: the file cannot be moved anywhere else.
    UNICODE_STRING counted = Counted(name);
    std::vector<LONGLONG> buffer(
        (sizeof(FILE_RENAME_INFO) + counted.Length + sizeof(LONGLONG) - 1) / sizeof(LONGLONG));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = folder_->get();
    rename->FileNameLength = counted.Length;
    std::copy(name.begin(), name.end(), rename->FileName);
    IO_STATUS_BLOCK io;
    const NTSTATUS status = Nt().SetInformationFile(
        data_.get(), &io, rename, static_cast<ULONG>(buffer.size() * sizeof(LONGLONG)),
        kFileRenameInformation);
    if (status < 0) throw FromStatus(status);
    path_ = path_.substr(0, path_.size() - name_.size()) + name;
    name_ = name;
  }

  void Delete() override {
    PrepareDelete();
    if (Nt().under_wine) EnsureUnchanged(wine_, data_.get(), delete_prepared_);
    Close();  // the file goes as its last handle closes
    if (Nt().under_wine) ConfirmGone(wine_, folder_ ? folder_->get() : nullptr, name_, attributes_);
  }

  void PrepareDelete() override {
    if (delete_prepared_) return;
    if (Nt().under_wine) EnsurePathLeadsHere(wine_, data_.get());
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (!::SetFileInformationByHandle(data_.get(), FileDispositionInfo, &disposition,
                                      sizeof disposition)) {
      throw LastFailure();
    }
    delete_prepared_ = true;
  }

  void FlushFolder() override {
    // Wine alone: a walked folder is held with the right to flush it where that was granted.
    if (folder_ && Nt().under_wine) {
      if (::FlushFileBuffers(folder_->get())) return;
      if (::GetLastError() != ERROR_ACCESS_DENIED) ThrowUnlessUnsupported(::GetLastError());
    }
    // A flush asks for a handle that may write, which for a folder is one that may add files to
    // it: the folder opened once more, through the handle held. What a file system does then is
    // its own: FAT writes a folder's records only at a drive's root (there the whole volume's),
    // elsewhere it only has the device write back its cache; a network share refuses ("invalid
    // function").
    ScopedHandle folder;
    NTSTATUS status;
    if (folder_) {
      status = OpenIn(folder_->get(), Text(), kFolderFlushAccess | SYNCHRONIZE, FILE_DIRECTORY_FILE,
                      folder);
    } else {
      return;  // its folder is not known
    }
    if (status < 0) return;
    // A flush refused on a folder that granted the open (as a share refuses one) leaves the deletes
    // done: they last when the system writes them.
    if (!::FlushFileBuffers(folder.get()) && ::GetLastError() != ERROR_ACCESS_DENIED) {
      ThrowUnlessUnsupported(::GetLastError());
    }
  }

 private:
  HANDLE Handle() const { return attributes_.valid() ? attributes_.get() : data_.get(); }

  // Wine alone: Linux refuses every write on a file system it keeps read-only (one mounted so, or
  // one whose device failed, as a stick pulled out does), and Wine tells that as access refused;
  // Windows tells why.
  Failure AsRefused(const Failure& failure) const {
    if (failure.number != kFailAccess || failure.busy || !Nt().under_wine) return failure;
    const DWORD why = WritesRefusedFor(wine_.unix_path);
    return why ? FailureFromWin32(why) : failure;
  }

  ScopedHandle attributes_;
  ScopedHandle data_;
  SharedHandle folder_;
  Text name_;
  Text path_;
  bool delete_prepared_ = false;      // marked to go when `data_` closes
  std::optional<FileNumber> number_;  // as the first Info() found it
  WineFile wine_;                     // Wine alone: for the checks around the delete
};

}  // namespace

std::unique_ptr<OpenFile> NewWindowsFile(ScopedHandle attributes, ScopedHandle data,
                                         SharedHandle folder, Text name, Text path, WineFile wine) {
  return std::make_unique<WindowsFile>(std::move(attributes), std::move(data), std::move(folder),
                                       std::move(name), std::move(path), std::move(wine));
}

}  // namespace morvenit
