// Loading and saving "quenda.cfg" on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <initializer_list>

#include "config_internal.h"

namespace {

bool write_all(int fd, const unsigned char* bytes, size_t size, bool positioned) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = positioned
                              ? pwrite(fd, bytes + done, size - done, static_cast<off_t>(done))
                              : write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes a new file beside the old one and renames it over, so a reader sees
// either the old record or the new one, never a mix. False when the file is
// to be overwritten in place instead; nothing is then left behind.
bool replace_through_temporary(const unsigned char (&bytes)[CONFIG_SIZE], const struct stat* old) {
    char temp[64];
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        std::snprintf(temp, sizeof temp, ".%s.%ld-%d", CONFIG_FILE_NAME,
                      static_cast<long>(getpid()), attempt);
        fd = open(temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    // A new file would belong to whoever saves; one the owner or group then
    // cannot read is worse than a save that is not atomic.
    if (old != nullptr &&
        (fchown(fd, old->st_uid, old->st_gid) != 0 || fchmod(fd, old->st_mode & 07777) != 0)) {
        close(fd);
        unlink(temp);
        return false;
    }
    const bool written = write_all(fd, bytes, CONFIG_SIZE, false) && fsync(fd) == 0;
    if (close(fd) != 0 || !written) {
        unlink(temp);
        return false;
    }
    // A bind-mounted file, another device, a sticky directory: the gate said
    // the file may be written, so it is overwritten where it is.
    if (rename(temp, CONFIG_FILE_NAME) != 0) {
        unlink(temp);
        return false;
    }
    const int dir = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);  // the rename is done; a directory that cannot sync changes nothing
        close(dir);
    }
    return true;
}

// Overwrites the open file: keeps a link a link and works where no new file
// can be made. The old bytes stay until the new ones are written over them.
bool write_in_place(int fd, const unsigned char (&bytes)[CONFIG_SIZE]) {
    return write_all(fd, bytes, CONFIG_SIZE, true) && ftruncate(fd, CONFIG_SIZE) == 0 &&
           fsync(fd) == 0;
}

// An access list would not come over to a new file.
bool has_access_list(int fd) {
    return fgetxattr(fd, "system.posix_acl_access", nullptr, 0) >= 0;
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
        // A dangling link: create its target rather than replace the link. A
        // target that cannot be created is a file we cannot write, not a
        // missing one.
        fd = open(CONFIG_FILE_NAME, O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
        if (fd < 0) config_disk_error();
    }
    if (fd < 0 && errno != ENOENT) config_disk_error();
    return fd;
}

void save_record(int gate) {
    struct stat old {};
    if (gate >= 0 && (fstat(gate, &old) != 0 || !S_ISREG(old.st_mode))) config_disk_error();
    unsigned char bytes[CONFIG_SIZE];
    prepare_config_for_save(bytes);

    const bool keep_inode = gate >= 0 && (old.st_nlink > 1 || is_symbolic_link(CONFIG_FILE_NAME) ||
                                          has_access_list(gate));
    bool saved = !keep_inode && replace_through_temporary(bytes, gate >= 0 ? &old : nullptr);
    if (!saved && gate >= 0) saved = write_in_place(gate, bytes);
    if (!saved) config_disk_error();
}

}  // namespace

void load_config() {
    const int fd = open(CONFIG_FILE_NAME, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat info {};
    // A FIFO, device or directory of that name is no settings file.
    if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (fd >= 0) close(fd);
        use_default_config();
        return;
    }
    unsigned char bytes[CONFIG_SIZE];
    size_t got = 0;
    while (got < CONFIG_SIZE) {
        const ssize_t n = read(fd, bytes + got, CONFIG_SIZE - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    take_loaded_bytes(bytes, got);
}

void save_config() {
    // No signal may leave a temporary file behind or end a half-done save.
    sigset_t block;
    sigset_t previous;
    sigemptyset(&block);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGWINCH, SIGCONT})
        sigaddset(&block, sig);
    sigprocmask(SIG_BLOCK, &block, &previous);
    // Under a file size limit a write would kill us halfway, temporary file and
    // all; ignored, the write fails with EFBIG and is handled like a full disk.
    struct sigaction ignore {};
    struct sigaction previous_xfsz {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGXFSZ, &ignore, &previous_xfsz);
    const int gate = open_gate();
    save_record(gate);
    if (gate >= 0) close(gate);
    sigaction(SIGXFSZ, &previous_xfsz, nullptr);
    // The file is saved and the program only says goodbye now: a signal that
    // would end it stays held, or its status would say nothing was saved.
    sigset_t held = previous;
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&held, sig);
    sigprocmask(SIG_SETMASK, &held, nullptr);
}
