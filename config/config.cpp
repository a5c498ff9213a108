#include "config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "terminal.h"

ConfigRecord config_record{};

namespace {

enum class Outcome { saved, try_in_place, failed };

void copy_text(char (&dir)[80], const char* text) {
    std::strncpy(dir, text, sizeof dir - 1);
    dir[sizeof dir - 1] = '\0';
}

void use_defaults() {
    copy_text(config_record.main_dir, "c:/bbs/main/");
    copy_text(config_record.editor_dir, "d:/bbs/quenda/");
    config_record.aux_value = 0;
    config_record.flags = FLAG_BACKUP;
}

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

[[noreturn]] void disk_error() {
    close_screen();
    std::fputs("\nDisk error, cannot save quenda.cfg.", stdout);
    std::fflush(stdout);
    std::exit(0);
}

bool write_all(int fd, const unsigned char* bytes, size_t size, bool positioned) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = positioned ? pwrite(fd, bytes + done, size - done, static_cast<off_t>(done))
                                     : write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes a new file beside the old one and renames it over, so a reader sees
// either the old record or the new one, never a mix.
Outcome replace_through_temporary(const unsigned char (&bytes)[CONFIG_SIZE], const struct stat* old) {
    char temp[64];
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        std::snprintf(temp, sizeof temp, ".%s.%ld-%d", CONFIG_FILE_NAME, static_cast<long>(getpid()),
                      attempt);
        fd = open(temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return Outcome::try_in_place;
    }
    if (fd < 0) return Outcome::try_in_place;
    if (old != nullptr) {
        fchmod(fd, old->st_mode & 07777);
        if (geteuid() == 0) {
            const int ignored = fchown(fd, old->st_uid, old->st_gid);
            (void)ignored;
        }
    }
    const bool written = write_all(fd, bytes, CONFIG_SIZE, false) && fsync(fd) == 0;
    if (close(fd) != 0 || !written) {
        unlink(temp);
        return Outcome::try_in_place;
    }
    if (rename(temp, CONFIG_FILE_NAME) != 0) {
        const int why = errno;
        unlink(temp);
        // A bind-mounted file or one on another device can only be overwritten.
        return (why == EBUSY || why == EXDEV) ? Outcome::try_in_place : Outcome::failed;
    }
    const int dir = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);  // the rename is done; a directory that cannot sync changes nothing
        close(dir);
    }
    return Outcome::saved;
}

// Overwrites the open file: keeps a link a link and works where no new file
// can be made. The old bytes stay until the new ones are written over them.
bool write_in_place(int fd, const unsigned char (&bytes)[CONFIG_SIZE]) {
    return write_all(fd, bytes, CONFIG_SIZE, true) && ftruncate(fd, CONFIG_SIZE) == 0 &&
           fsync(fd) == 0;
}

bool is_symbolic_link(const char* name) {
    struct stat link {};
    return lstat(name, &link) == 0 && S_ISLNK(link.st_mode);
}

// Opens the existing file for writing without changing it: the one check that
// decides whether the operator may write it at all. -1 when there is none.
int open_gate() {
    int fd = open(CONFIG_FILE_NAME, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && is_symbolic_link(CONFIG_FILE_NAME)) {
        // A dangling link: create its target rather than replace the link.
        fd = open(CONFIG_FILE_NAME, O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    }
    if (fd < 0 && errno != ENOENT) disk_error();
    return fd;
}

void save_record(int gate) {
    struct stat old {};
    if (gate >= 0 && (fstat(gate, &old) != 0 || !S_ISREG(old.st_mode))) disk_error();
    add_trailing_slash(config_record.main_dir);
    add_trailing_slash(config_record.editor_dir);
    config_record.magic = CONFIG_MAGIC;
    unsigned char bytes[CONFIG_SIZE];
    encode_config(config_record, bytes);

    const bool linked = gate >= 0 && (old.st_nlink > 1 || is_symbolic_link(CONFIG_FILE_NAME));
    Outcome outcome = Outcome::try_in_place;
    if (!linked) outcome = replace_through_temporary(bytes, gate >= 0 ? &old : nullptr);
    if (outcome == Outcome::try_in_place && gate >= 0 && write_in_place(gate, bytes)) {
        outcome = Outcome::saved;
    }
    if (outcome != Outcome::saved) disk_error();
}

}  // namespace

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
    record.aux_value = static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[2] | bytes[3] << 8));
    std::memcpy(record.main_dir, bytes + 4, sizeof record.main_dir);
    std::memcpy(record.editor_dir, bytes + 84, sizeof record.editor_dir);
    record.flags = bytes[164];
}

void load_config() {
    const int fd = open(CONFIG_FILE_NAME, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat info {};
    // A FIFO, device or directory of that name is no settings file.
    if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (fd >= 0) close(fd);
        use_defaults();
        return;
    }
    // What a short file does not cover keeps the record's current bytes.
    unsigned char bytes[CONFIG_SIZE];
    encode_config(config_record, bytes);
    size_t got = 0;
    while (got < CONFIG_SIZE) {
        const ssize_t n = read(fd, bytes + got, CONFIG_SIZE - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    decode_config(bytes, config_record);
    terminate(config_record.main_dir);
    terminate(config_record.editor_dir);
}

void save_config() {
    // No signal may leave a temporary file behind or end a half-done save.
    sigset_t block;
    sigset_t previous;
    sigemptyset(&block);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGWINCH, SIGCONT}) sigaddset(&block, sig);
    sigprocmask(SIG_BLOCK, &block, &previous);
    const int gate = open_gate();
    save_record(gate);
    if (gate >= 0) close(gate);
    sigprocmask(SIG_SETMASK, &previous, nullptr);
}
