// The program's version and its maker's notice, in one place for the resource script (VERSIONINFO),
// the windows and the installer script (which reads these lines with !searchparse). Plain macros,
// so that rc.exe and windres read it as well as the compiler.
#ifndef MORVENIT_WINDOWS_VERSION_H_
#define MORVENIT_WINDOWS_VERSION_H_

#define MORVENIT_VERSION_FIELDS 2, 0, 0, 0
#define MORVENIT_VERSION_DOTTED "2.0.0.0"
#define MORVENIT_VERSION "2.0b"
#define MORVENIT_COMPANY "Morvenit"
// \x00A9 rather than \u00A9: the resource compilers know only the former.
#define MORVENIT_COPYRIGHT_NOTICE L"Copyright \x00A9 2026 Morvenit"

#endif  // MORVENIT_WINDOWS_VERSION_H_
