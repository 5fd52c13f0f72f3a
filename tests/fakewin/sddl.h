// Host stand-in for the slice of <sddl.h> the job uses.
#ifndef FAKEWIN_SDDL_H
#define FAKEWIN_SDDL_H

#include "windows.h"

#define SDDL_REVISION_1 1

BOOL ConvertStringSecurityDescriptorToSecurityDescriptorA(const char *text, DWORD revision,
                                                          PSECURITY_DESCRIPTOR *descriptor, DWORD *size);

#endif
