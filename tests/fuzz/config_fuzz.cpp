// Any bytes as "quenda.cfg": the load must take them without reading past a
// field, the save must write exactly what is in memory, and loading that file
// again must give the same record.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "config.h"

namespace {

std::string work_dir;

void remove_work_dir() {
    unlink(CONFIG_FILE_NAME);
    if (chdir("/") == 0) rmdir(work_dir.c_str());
}

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "config_fuzz: %s\n", what);
    std::abort();
}

// Copied into an allocation of exactly 80 bytes, a field without its NUL makes
// strlen run off the end, where ASan sees it.
size_t field_length(const char (&field)[80]) {
    const auto copy = std::make_unique<char[]>(sizeof field);
    std::memcpy(copy.get(), field, sizeof field);
    return std::strlen(copy.get());
}

bool ends_in_slash(const char (&field)[80]) {
    const size_t len = field_length(field);
    return len > 0 && field[len - 1] == '/';
}

void write_input(const std::uint8_t* data, size_t size) {
    const int fd = open(CONFIG_FILE_NAME, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) broken("cannot write the input file");
    for (size_t done = 0; done < size;) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) broken("cannot write the input file");
        done += static_cast<size_t>(n);
    }
    close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string name = (std::filesystem::temp_directory_path() / "quenda-fuzz-XXXXXX").string();
    if (mkdtemp(name.data()) == nullptr || chdir(name.c_str()) != 0) broken("no work directory");
    work_dir = name;
    std::atexit(remove_work_dir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    write_input(data, size);
    std::memset(&config_record, 0, sizeof config_record);  // as at start-up
    load_config();
    const size_t main_len = field_length(config_record.main_dir);
    const size_t editor_len = field_length(config_record.editor_dir);
    const ConfigRecord loaded = config_record;

    save_config();
    if (config_record.magic != CONFIG_MAGIC) broken("magic not set");
    if (config_record.aux_value != loaded.aux_value || config_record.flags != loaded.flags) {
        broken("aux_value or flags changed");
    }
    if (field_length(config_record.main_dir) !=
            main_len + (main_len < 79 && !ends_in_slash(loaded.main_dir)) ||
        field_length(config_record.editor_dir) !=
            editor_len + (editor_len < 79 && !ends_in_slash(loaded.editor_dir))) {
        broken("trailing slash rule");
    }
    unsigned char in_memory[CONFIG_SIZE];
    encode_config(config_record, in_memory);
    unsigned char on_disk[CONFIG_SIZE + 1];
    const int fd = open(CONFIG_FILE_NAME, O_RDONLY | O_CLOEXEC);
    const ssize_t got = fd < 0 ? -1 : read(fd, on_disk, sizeof on_disk);
    if (fd >= 0) close(fd);
    if (got != static_cast<ssize_t>(CONFIG_SIZE) ||
        std::memcmp(on_disk, in_memory, CONFIG_SIZE) != 0) {
        broken("the file is not the record in memory");
    }

    const ConfigRecord saved = config_record;
    std::memset(&config_record, 0, sizeof config_record);
    load_config();
    if (std::memcmp(&config_record, &saved, sizeof saved) != 0) broken("reload differs from save");
    return 0;
}
