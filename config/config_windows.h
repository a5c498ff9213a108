// When the Windows save may overwrite "quenda.cfg" where it is.
#pragma once

#include <windows.h>

#include "config_internal.h"

// Whether a save through a new file that failed at step with error may write
// the old file in place instead; if not, the old file stays as it is and the
// save ends with the disk error. A link or a file with several names is
// written in place from the start and never gets here.
bool may_write_in_place(SaveStep step, DWORD error);
