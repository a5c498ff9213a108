// The settings record: defaults, byte layout and the rules applied on save.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config_internal.h"
#include "terminal.h"

ConfigRecord config_record{};

namespace {

void copy_text(char (&dir)[80], const char* text) {
    std::strncpy(dir, text, sizeof dir - 1);
    dir[sizeof dir - 1] = '\0';
}

}  // namespace

void use_default_config() {
    copy_text(config_record.main_dir, "c:/bbs/main/");
    copy_text(config_record.editor_dir, "d:/bbs/quenda/");
    config_record.aux_value = 0;
    config_record.flags = FLAG_BACKUP;
}

namespace {

// A field of 80 bytes without a NUL would be read past; keep 79 characters.
void terminate(char (&dir)[80]) {
    if (std::memchr(dir, '\0', sizeof dir) == nullptr) dir[sizeof dir - 1] = '\0';
}

// Appends "/" unless the text ends in one. A 79-character text has no room for
// it: the byte after the field is the flags, so it is saved as it stands.
void add_trailing_slash(char (&dir)[80]) {
    const size_t len = strnlen(dir, sizeof dir);
    if (len > 0 && dir[len - 1] == '/') return;
    if (len + 1 >= sizeof dir) return;
    dir[len] = '/';
    dir[len + 1] = '\0';
}

}  // namespace

void config_disk_error() {
    close_screen();
#ifdef SIGPIPE
    // Standard output may be a pipe nobody reads; the status must still say it.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    std::fputs("\nDisk error, cannot save quenda.cfg.", stdout);
    std::fflush(stdout);
    std::exit(0);
}

void encode_config(const ConfigRecord& record, unsigned char (&bytes)[CONFIG_SIZE]) {
    const auto aux = static_cast<std::uint16_t>(record.aux_value);
    bytes[0] = static_cast<unsigned char>(record.magic & 0xFF);
    bytes[1] = static_cast<unsigned char>(record.magic >> 8);
    bytes[2] = static_cast<unsigned char>(aux & 0xFF);
    bytes[3] = static_cast<unsigned char>(aux >> 8);
    std::memcpy(bytes + 4, record.main_dir, sizeof record.main_dir);
    std::memcpy(bytes + 84, record.editor_dir, sizeof record.editor_dir);
    bytes[164] = record.flags;
}

void decode_config(const unsigned char (&bytes)[CONFIG_SIZE], ConfigRecord& record) {
    record.magic = static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
    record.aux_value =
        static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[2] | bytes[3] << 8));
    std::memcpy(record.main_dir, bytes + 4, sizeof record.main_dir);
    std::memcpy(record.editor_dir, bytes + 84, sizeof record.editor_dir);
    record.flags = bytes[164];
}

void take_loaded_bytes(const unsigned char* bytes, std::size_t count) {
    unsigned char record[CONFIG_SIZE];
    encode_config(config_record, record);
    std::memcpy(record, bytes, count < CONFIG_SIZE ? count : CONFIG_SIZE);
    decode_config(record, config_record);
    terminate(config_record.main_dir);
    terminate(config_record.editor_dir);
}

void prepare_config_for_save(unsigned char (&bytes)[CONFIG_SIZE]) {
    add_trailing_slash(config_record.main_dir);
    add_trailing_slash(config_record.editor_dir);
    config_record.magic = CONFIG_MAGIC;
    encode_config(config_record, bytes);
}
