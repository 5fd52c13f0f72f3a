// The floor for quillset's timing: quillset's own entry, window and
// resources, with only the restart's one-second pause as the job.
#include "job.h"

void ConfigureDevice(void) { Sleep(1000); }
