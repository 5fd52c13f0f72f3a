// Narrows the DLL search of a program that installers and administrators
// start elevated, often from a folder that others can write to.
#ifndef QUILLSET_DLL_SEARCH_H
#define QUILLSET_DLL_SEARCH_H

// Limits the search to System32 where this Windows can (8 and later, or
// 7 and Vista with KB2533623), and otherwise takes the current directory out
// of it. Returns 1 when only System32 is searched from now on.
int LimitDllSearch(void);

#endif
