// What the platform's file code shares with the record code.
#pragma once

#include "config.h"

void use_default_config();
// Takes the first count bytes read from the file into the record: what a short
// file does not cover keeps the record's current bytes, and a directory without
// a NUL in its 80 bytes is ended at 79 characters.
void take_loaded_bytes(const unsigned char* bytes, std::size_t count);
// The trailing "/" and the magic, then the record as the file will hold it.
void prepare_config_for_save(unsigned char (&bytes)[CONFIG_SIZE]);
// Gives the terminal back, reports the failed save on standard output, exits 0.
[[noreturn]] void config_disk_error();

// The steps of a save through a new file, in order. Where one fails, the
// platform's rule says whether the old file is written in place instead.
enum class SaveStep { create, copy_metadata, write, flush, replace };
