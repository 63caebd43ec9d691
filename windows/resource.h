// Resource identifiers shared by the resource script and the windows.
#ifndef MORVENIT_WINDOWS_RESOURCE_H_
#define MORVENIT_WINDOWS_RESOURCE_H_

#define IDI_MORVENIT 1

#endif  // MORVENIT_WINDOWS_RESOURCE_H_
