// The handful of system calls through which files and folders are opened, looked at, listed and
// renamed, and the process sees cloud placeholders as they are, taken from ntdll once, with
// whether ntdll is Wine's. A release build only reads them; the tests under Wine build in a way
// to put answers of Windows' own file systems in their place (FAT, cloud files, named streams,
// short names), answers that Wine never gives.
#ifndef MORVENIT_PLATFORM_NT_CALLS_H_
#define MORVENIT_PLATFORM_NT_CALLS_H_

#include "platform/win32.h"
// After <windows.h>, which it needs.
#include <winternl.h>

namespace morvenit {

// The file-information classes used, as ntdll numbers them.
enum NtInfoClass : ULONG {
  kFileBasicInformation = 4,
  kFileStandardInformation = 5,
  kFileInternalInformation = 6,
  kFileNameInformation = 9,
  kFileRenameInformation = 10,
  kFileStreamInformation = 22,
  kFileAttributeTagInformation = 35,
  kFileIdBothDirectoryInformation = 37,
  kFileIdInformation = 59,
  kFileIdExtdDirectoryInformation = 60,
};

struct NtCalls {
  NTSTATUS(NTAPI* CreateFile)
  (HANDLE* handle, ACCESS_MASK access, OBJECT_ATTRIBUTES* attributes, IO_STATUS_BLOCK* io,
   LARGE_INTEGER* allocation, ULONG file_attributes, ULONG share, ULONG disposition, ULONG options,
   void* ea, ULONG ea_length);
  NTSTATUS(NTAPI* QueryInformationFile)
  (HANDLE handle, IO_STATUS_BLOCK* io, void* out, ULONG length, ULONG info_class);
  NTSTATUS(NTAPI* SetInformationFile)
  (HANDLE handle, IO_STATUS_BLOCK* io, void* in, ULONG length, ULONG info_class);
  NTSTATUS(NTAPI* QueryDirectoryFile)
  (HANDLE handle, HANDLE event, void* apc, void* apc_context, IO_STATUS_BLOCK* io, void* out,
   ULONG length, ULONG info_class, BOOLEAN single, UNICODE_STRING* mask, BOOLEAN restart);
  NTSTATUS(NTAPI* QueryObject)
  (HANDLE handle, ULONG info_class, void* out, ULONG length, ULONG* returned);
  NTSTATUS(NTAPI* QueryVolumeInformationFile)
  (HANDLE handle, IO_STATUS_BLOCK* io, void* out, ULONG length, ULONG info_class);
  // A file's times, length and attributes by its path, without opening it.
  NTSTATUS(NTAPI* QueryFullAttributesFile)(OBJECT_ATTRIBUTES* attributes, void* out);
  ULONG(NTAPI* StatusToDosError)(NTSTATUS status);
  // Sets whether the process sees cloud placeholders as such; returns the mode before, negative on
  // error. Null where ntdll has none (before Windows 10 1803; Wine).
  CHAR(NTAPI* SetPlaceholderMode)(CHAR mode);
  // Wine's own export of ntdll, null on Windows: the first sign of Wine.
  const char*(CDECL* WineGetVersion)();
  // The program runs under Wine: what Windows does by the handle, Wine does by the path the
  // handle was opened by.
  bool under_wine;
};

// Whether `calls` show a sign of Wine that only Wine gives, and that Wine's own checks need:
// ntdll's own export (some Wine builds can hide it), or Wine's namespace of Linux paths
// ("\??\unix") opening. Wine's keys in the registry are no such sign: any program may leave one on
// Windows, and there Wine's way would go on without the calls its checks need.
bool SeesWine(const NtCalls& calls);

// The calls, looked up once. Never fails on a system that runs the program.
const NtCalls& Nt();

#ifdef MORVENIT_NT_CALL_HOOKS
// Tests only: the same calls, to be replaced and put back.
NtCalls& NtForTests();
#endif

}  // namespace morvenit

#endif  // MORVENIT_PLATFORM_NT_CALLS_H_
