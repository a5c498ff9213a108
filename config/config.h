// The settings record and the file "quenda.cfg" that holds it.
#pragma once

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)
struct ConfigRecord {
    std::uint16_t magic;
    std::int16_t aux_value;  // kept as read; we never interpret it
    char main_dir[80];
    char editor_dir[80];
    std::uint8_t flags;
};
#pragma pack(pop)

// The file is this record byte for byte; nothing may move.
static_assert(sizeof(ConfigRecord) == 165);
static_assert(offsetof(ConfigRecord, magic) == 0);
static_assert(offsetof(ConfigRecord, aux_value) == 2);
static_assert(offsetof(ConfigRecord, main_dir) == 4);
static_assert(offsetof(ConfigRecord, editor_dir) == 84);
static_assert(offsetof(ConfigRecord, flags) == 164);

inline constexpr std::size_t CONFIG_SIZE = sizeof(ConfigRecord);
inline constexpr std::uint16_t CONFIG_MAGIC = 0x6389;
inline constexpr std::uint8_t FLAG_BACKUP = 1;
inline constexpr std::uint8_t FLAG_LOGFILE = 2;
inline constexpr const char* CONFIG_FILE_NAME = "quenda.cfg";

// The one process-wide record the form edits.
extern ConfigRecord config_record;

// Fills config_record from "quenda.cfg" in the current directory, or with the
// defaults when there is no readable regular file of that name.
void load_config();

// Writes config_record to "quenda.cfg", all or nothing. When the file cannot be
// written, gives the terminal back, says so on standard output and exits with 0.
void save_config();

// The record as the file holds it (little-endian), and back.
void encode_config(const ConfigRecord& record, unsigned char (&bytes)[CONFIG_SIZE]);
void decode_config(const unsigned char (&bytes)[CONFIG_SIZE], ConfigRecord& record);
