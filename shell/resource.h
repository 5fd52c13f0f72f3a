// Resource IDs shared by the shell and the resource script.
#ifndef QUILLSET_RESOURCE_H
#define QUILLSET_RESOURCE_H

#define IDS_APP_TITLE 103
#define IDI_QUILLSET 107
#define IDC_QUILLSET 109
#define IDI_SMALL 129
#define IDM_ABOUT 104
#define IDM_EXIT 105

#define MAX_LOADSTRING 100

#endif
