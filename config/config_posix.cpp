// Loading and saving "quenda.cfg" on POSIX systems.
#include <acl/libacl.h>
#include <attr/libattr.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
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

// A step of the save through a new file that can fail.
enum class Step { create, copy_metadata, write, sync, rename };

// The one rule for a failed step: true where a new file cannot take the old
// one's place and the old file is overwritten in place instead; false where
// the save stops with the disk error and the old file stays as it was.
bool write_in_place_after(Step step, int error) {
    if (error == EIO) return false;  // the disk is failing: touch nothing more
    switch (step) {
        // A directory that takes no new file, no inode or blocks for a second copy.
        case Step::create:
            return error == EACCES || error == EPERM || error == EROFS || error == ENOSPC ||
                   error == EDQUOT;
        // An owner, group, access list or attribute the new file cannot be given.
        case Step::copy_metadata: return true;
        case Step::write: return error == ENOSPC || error == EDQUOT;
        // A failed flush may have lost pages of any file: trust nothing.
        case Step::sync: return false;
        // A mount point, another device, a sticky directory.
        case Step::rename: return error == EBUSY || error == EXDEV || error == EPERM;
    }
    return false;
}

struct Failure {
    Step step;
    int error;
};

// A new file in the current directory. Unnamed where the file system allows,
// so that nothing is left behind if we die before it takes the old one's
// place; it is named through /proc once it holds the record.
int create_new_file(bool& unnamed) {
    unnamed = access("/proc/self/fd", X_OK) == 0;
    if (unnamed) {
        const int fd = open(".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
        unnamed = false;
    }
    return -1;
}

// Gives the new file a temporary name beside "quenda.cfg": links the unnamed
// fd, or with fd -1 creates a named file. temp is set only once the name is
// ours. The fd on success, -1 with errno on failure.
int name_new_file(int fd, char (&temp)[64]) {
    char link_path[32];
    std::snprintf(link_path, sizeof link_path, "/proc/self/fd/%d", fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[sizeof temp];
        std::snprintf(name, sizeof name, ".%s.%ld-%d", CONFIG_FILE_NAME,
                      static_cast<long>(getpid()), attempt);
        const int named =
            fd >= 0
                ? (linkat(AT_FDCWD, link_path, AT_FDCWD, name, AT_SYMLINK_FOLLOW) == 0 ? fd : -1)
                : open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (named >= 0) {
            std::memcpy(temp, name, sizeof temp);
            return named;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

// libacl and libattr are loaded by the first save that replaces a file, not
// at start, where they held up every run's first frame by 0.3 ms. A save over
// an existing file pays for them after Enter instead (0.7 ms), where no frame
// waits on them, and a run that leaves without saving never does.
decltype(&perm_copy_fd) copy_permissions = nullptr;
decltype(&attr_copy_fd) copy_attributes = nullptr;

bool load_metadata_copiers() {
    static bool tried = false;
    if (!tried) {
        tried = true;
        void* acl = dlopen("libacl.so.1", RTLD_NOW | RTLD_LOCAL);
        void* attr = dlopen("libattr.so.1", RTLD_NOW | RTLD_LOCAL);
        if (acl != nullptr && attr != nullptr) {
            copy_permissions =
                reinterpret_cast<decltype(&perm_copy_fd)>(dlsym(acl, "perm_copy_fd"));
            copy_attributes =
                reinterpret_cast<decltype(&attr_copy_fd)>(dlsym(attr, "attr_copy_fd"));
        }
    }
    return copy_permissions != nullptr && copy_attributes != nullptr;
}

// The old file's owner, group, mode, access list and extended attributes.
bool copy_metadata(int gate, const struct stat& old, int fd) {
    if (!load_metadata_copiers()) {
        errno = ELIBACC;
        return false;
    }
    return fchown(fd, old.st_uid, old.st_gid) == 0 &&
           copy_permissions(CONFIG_FILE_NAME, gate, CONFIG_FILE_NAME, fd, nullptr) == 0 &&
           copy_attributes(CONFIG_FILE_NAME, gate, CONFIG_FILE_NAME, fd, nullptr, nullptr) == 0;
}

// Writes a new file beside the old one and renames it over, so a reader sees
// either the old record or the new one, never a mix. On failure nothing is
// left behind and the failed step is returned.
bool replace_through_new_file(const unsigned char (&bytes)[CONFIG_SIZE], int gate,
                              const struct stat& old, Failure& failure) {
    bool unnamed = false;
    char temp[64] = "";
    int fd = create_new_file(unnamed);
    if (!unnamed) fd = name_new_file(-1, temp);
    const auto fail = [&](Step step) {
        failure = {step, errno};
        if (fd >= 0) close(fd);
        if (temp[0] != '\0') unlink(temp);
        return false;
    };
    if (fd < 0) return fail(Step::create);
    if (gate >= 0 && !copy_metadata(gate, old, fd)) return fail(Step::copy_metadata);
    if (!write_all(fd, bytes, CONFIG_SIZE, false)) return fail(Step::write);
    if (fsync(fd) != 0) return fail(Step::sync);
    if (unnamed && name_new_file(fd, temp) < 0) return fail(Step::create);
    const int closed = close(fd);
    fd = -1;
    if (closed != 0) return fail(Step::sync);
    if (rename(temp, CONFIG_FILE_NAME) != 0) return fail(Step::rename);
    const int dir = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);  // the rename is done; a directory that cannot sync changes nothing
        close(dir);
    }
    return true;
}

// Overwrites the open file: keeps a link a link and works where no new file
// can take the old one's place. The old bytes stay until new ones cover them.
bool write_in_place(int fd, const unsigned char (&bytes)[CONFIG_SIZE]) {
    return write_all(fd, bytes, CONFIG_SIZE, true) && ftruncate(fd, CONFIG_SIZE) == 0 &&
           fsync(fd) == 0;
}

bool is_symbolic_link(const char* name) {
    struct stat link {};
    return lstat(name, &link) == 0 && S_ISLNK(link.st_mode);
}

// The file the save made through a dangling link, by the name the link
// gives; removed again if the save fails.
char created_target[PATH_MAX];

[[noreturn]] void save_failed() {
    if (created_target[0] != '\0') unlink(created_target);
    config_disk_error();
}

// A dangling link: its target is created rather than the link replaced, and
// remembered only where we know we made it. A target that cannot be created
// is a file we cannot write, not a missing one.
int create_link_target() {
    char target[PATH_MAX];
    const ssize_t len = readlink(CONFIG_FILE_NAME, target, sizeof target - 1);
    if (len > 0) {
        target[len] = '\0';
        // The link's own text, read relative to where the link stands.
        const int fd =
            open(target, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
        if (fd >= 0) {
            std::memcpy(created_target, target, sizeof target);
            return fd;
        }
        if (errno != EEXIST) config_disk_error();
    }
    // Made meanwhile, or a chain of links: write through it, remove nothing.
    const int fd =
        open(CONFIG_FILE_NAME, O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) config_disk_error();
    return fd;
}

// Opens the existing file for writing without changing it: the one check that
// decides whether the operator may write it at all. -1 when there is none.
int open_gate() {
    const int fd = open(CONFIG_FILE_NAME, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && is_symbolic_link(CONFIG_FILE_NAME))
        return create_link_target();
    if (fd < 0 && errno != ENOENT) config_disk_error();
    return fd;
}

void save_record(int gate) {
    struct stat old {};
    if (gate >= 0 && (fstat(gate, &old) != 0 || !S_ISREG(old.st_mode))) save_failed();
    unsigned char bytes[CONFIG_SIZE];
    prepare_config_for_save(bytes);

    // A new file would not be the one the other names or the link lead to.
    const bool keep_inode = gate >= 0 && (old.st_nlink > 1 || is_symbolic_link(CONFIG_FILE_NAME));
    Failure failure{};
    if (!keep_inode && replace_through_new_file(bytes, gate, old, failure)) return;
    if (gate < 0 || (!keep_inode && !write_in_place_after(failure.step, failure.error))) {
        save_failed();
    }
    if (!write_in_place(gate, bytes)) save_failed();
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
