// What the platform's file code shares with the record code.
#pragma once

#include "config.h"

void use_default_config();
// Ends a directory read from a file that had no NUL in its 80 bytes.
void terminate_loaded_dirs();
// The trailing "/" and the magic, just before the record is written.
void prepare_config_for_save();
// Gives the terminal back, reports the failed save on standard output, exits 0.
[[noreturn]] void config_disk_error();
