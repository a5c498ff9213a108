// Loading and saving "quenda.cfg" on POSIX systems.
#include <acl/libacl.h>
#include <attr/libattr.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
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

// A descriptor closed when it goes out of scope, so that every way out of a
// step closes what the step opened.
struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int from) : fd(from) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(-1); }
    void reset(int to) {
        if (fd >= 0) close(fd);
        fd = to;
    }
    int release() {
        const int kept = fd;
        fd = -1;
        return kept;
    }
};

bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether name in the directory is this very file, the name not followed.
bool names_file(int dir, const char* name, const struct stat& file) {
    struct stat there {};
    return fstatat(dir, name, &there, AT_SYMLINK_NOFOLLOW) == 0 && same_file(there, file);
}

// Where the file is: the directory that holds it, held open so that nothing
// renamed or swapped on the way can redirect a later step, and its name there.
// file is what stands at the name, not followed; -1 where nothing does.
struct Place {
    Fd dir;
    char name[NAME_MAX + 1] = "";
    Fd file;
    struct stat info {};
    // A link on the way owned by neither the user nor root: it may lead only
    // to a file of its owner, or to a directory of its owner for a new file.
    bool foreign = false;
    uid_t link_owner = 0;
};

// As the kernel's own limit on links followed in one lookup.
constexpr int MAX_LINKS = 40;

bool trust_link(Place& place, uid_t owner) {
    if (owner == geteuid() || owner == 0) return true;
    if (place.foreign && place.link_owner != owner) return false;
    place.foreign = true;
    place.link_owner = owner;
    return true;
}

bool owned_as_links_allow(const Place& place, const struct stat& info) {
    if (!place.foreign || info.st_uid == place.link_owner) return true;
    errno = EACCES;
    return false;
}

// The directory too: a new file and temporary names go there, where the
// link's owner might not be able to write at all.
bool dir_as_links_allow(const Place& place) {
    struct stat info {};
    return !place.foreign || (fstat(place.dir.fd, &info) == 0 && owned_as_links_allow(place, info));
}

// Puts the text of the link in front of what is left of the path; a link that
// starts with "/" starts again at the root.
bool follow_link(int link, char (&path)[PATH_MAX], Fd& dir) {
    char text[PATH_MAX];
    const ssize_t len = readlinkat(link, "", text, sizeof text);
    if (len <= 0) return false;
    const size_t size = static_cast<size_t>(len);
    const size_t rest = std::strlen(path);
    if (size + 1 + rest >= sizeof path) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memmove(path + size + 1, path, rest + 1);
    std::memcpy(path, text, size);
    path[size] = rest > 0 ? '/' : '\0';
    if (text[0] == '/') dir.reset(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    return dir.fd >= 0;
}

// Takes the first name off the path; last when nothing follows it.
bool take_name(char (&path)[PATH_MAX], char (&name)[NAME_MAX + 1], bool& last) {
    const char* start = path + std::strspn(path, "/");
    const size_t len = std::strcspn(start, "/");
    if (len == 0 || len > NAME_MAX) {  // a path that ends in "/" names a directory
        errno = len == 0 ? EISDIR : ENAMETOOLONG;
        return false;
    }
    std::memcpy(name, start, len);
    name[len] = '\0';
    const char* rest = start + len + std::strspn(start + len, "/");
    last = *rest == '\0';
    std::memmove(path, rest, std::strlen(rest) + 1);
    return true;
}

// Follows "quenda.cfg" through its links one name at a time, each looked up in
// the directory that holds it. False with errno where a name cannot be looked
// at or read, or a link leads where its owner may not go.
bool find_place(Place& place) {
    char path[PATH_MAX];
    std::snprintf(path, sizeof path, "%s", CONFIG_FILE_NAME);
    place.dir.reset(open(".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (place.dir.fd < 0) return false;
    for (int links = 0;;) {
        bool last = false;
        if (!take_name(path, place.name, last)) return false;
        Fd at(openat(place.dir.fd, place.name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat info {};
        if (at.fd < 0) {
            // Nothing there yet: the file is to be made in this directory.
            return last && errno == ENOENT && dir_as_links_allow(place);
        }
        if (fstat(at.fd, &info) != 0) return false;
        if (S_ISLNK(info.st_mode)) {
            if (++links > MAX_LINKS || !trust_link(place, info.st_uid)) {
                errno = ELOOP;
                return false;
            }
            if (!follow_link(at.fd, path, place.dir)) return false;
        } else if (last) {
            place.info = info;
            place.file.reset(at.release());
            return owned_as_links_allow(place, info) && dir_as_links_allow(place);
        } else if (S_ISDIR(info.st_mode)) {
            place.dir.reset(at.release());
        } else {
            errno = ENOTDIR;
            return false;
        }
    }
}

// The rule for a failed step: true where a new file cannot take the old one's
// place and the old file is overwritten in place instead; false where the save
// stops with the disk error and the old file stays as it was.
bool write_in_place_after(SaveStep step, int error) {
    if (error == EIO) return false;  // the disk is failing: touch nothing more
    switch (step) {
        // A directory that takes no new file, no inode or blocks for a second copy.
        case SaveStep::create:
            return error == EACCES || error == EPERM || error == EROFS || error == ENOSPC ||
                   error == EDQUOT;
        // An owner, group, access list, attribute or flag the new file cannot be given.
        case SaveStep::copy_metadata: return true;
        case SaveStep::write: return error == ENOSPC || error == EDQUOT;
        // A failed flush may have lost pages of any file: trust nothing.
        case SaveStep::flush: return false;
        // A mount point, another device, a sticky directory.
        case SaveStep::replace: return error == EBUSY || error == EXDEV || error == EPERM;
    }
    return false;
}

struct Failure {
    SaveStep step;
    int error;
};

// The directory once more, for its flags, its listing and its flush, opened
// through the held descriptor; -1 where the operator may not read it.
int reopen_dir(const Place& place) {
    return openat(place.dir.fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// A directory whose names can be added but never removed or renamed.
bool append_only(int dir) {
    int flags = 0;
    return dir >= 0 && ioctl(dir, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_APPEND_FL) != 0;
}

// The flags a file's owner may set (chattr +S +d +A +c +m +C); append-only and
// immutable need root and would stop the save itself.
constexpr int OWNER_FLAGS =
    FS_SYNC_FL | FS_NODUMP_FL | FS_NOATIME_FL | FS_COMPR_FL | FS_NOCOMP_FL | FS_NOCOW_FL;

bool copy_flags(int from, int to) {
    int old_flags = 0;
    int new_flags = 0;
    if (ioctl(from, FS_IOC_GETFLAGS, &old_flags) != 0)  // a file system without flags
        return errno == ENOTTY || errno == EOPNOTSUPP || errno == ENOSYS || errno == EINVAL;
    if (ioctl(to, FS_IOC_GETFLAGS, &new_flags) != 0) return false;
    if ((old_flags & OWNER_FLAGS) == (new_flags & OWNER_FLAGS)) return true;
    new_flags = (new_flags & ~OWNER_FLAGS) | (old_flags & OWNER_FLAGS);
    return ioctl(to, FS_IOC_SETFLAGS, &new_flags) == 0;
}

// The old file's owner and group first, since a change of owner clears the
// set-id bits; then its access list, extended attributes and flags. The mode
// bits follow the write, which clears set-id bits for all but root.
bool copy_metadata(int gate, const struct stat& old, int fd) {
    return fchown(fd, old.st_uid, old.st_gid) == 0 &&
           perm_copy_fd(CONFIG_FILE_NAME, gate, CONFIG_FILE_NAME, fd, nullptr) == 0 &&
           attr_copy_fd(CONFIG_FILE_NAME, gate, CONFIG_FILE_NAME, fd, nullptr, nullptr) == 0 &&
           copy_flags(gate, fd);
}

struct NewFile {
    Fd fd;
    char temp[NAME_MAX + 1] = "";  // its temporary name, once it has one
};

// Temporary names are .quenda.cfg.<host>-<pid>-<n>: a later save on this host
// can tell the leftovers of a process that is gone.
constexpr size_t PREFIX_SIZE = 96;  // room for a host name of 64

void temp_prefix(char (&prefix)[PREFIX_SIZE]) {
    char host[65] = "";
    if (gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
    std::snprintf(prefix, sizeof prefix, ".%s.%s-", CONFIG_FILE_NAME, host);
}

// Removes what saves on this host left when they were killed after naming
// their new file. A name in this directory only: whoever could plant one here
// could remove it as well.
void remove_leftovers(const Place& place, int dir) {
    Fd copy(dir >= 0 ? fcntl(dir, F_DUPFD_CLOEXEC, 0) : -1);
    DIR* list = copy.fd >= 0 ? fdopendir(copy.fd) : nullptr;
    if (list == nullptr) return;
    copy.release();  // closedir closes it
    char prefix[PREFIX_SIZE];
    temp_prefix(prefix);
    const size_t prefix_len = std::strlen(prefix);
    while (const dirent* entry = readdir(list)) {
        if (std::strncmp(entry->d_name, prefix, prefix_len) != 0) continue;
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name + prefix_len, &end, 10);
        // A pid_t is an int: a larger number would be cut to another process's pid.
        if (pid <= 0 || pid > INT_MAX || *end != '-' || kill(static_cast<pid_t>(pid), 0) == 0 ||
            errno != ESRCH)
            continue;
        struct stat info {};
        if (fstatat(place.dir.fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode))
            unlinkat(place.dir.fd, entry->d_name, 0);
    }
    closedir(list);
}

// Links the open file in at name (through /proc, which even an unnamed file has).
bool link_open_file(int fd, int dir, const char* name) {
    char path[32];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    return linkat(AT_FDCWD, path, dir, name, AT_SYMLINK_FOLLOW) == 0;
}

// Gives the new file a temporary name beside the target: links the unnamed
// file, or, where there is none yet, creates a named one with mode.
bool name_new_file(const Place& place, NewFile& file, mode_t mode) {
    char prefix[PREFIX_SIZE];
    temp_prefix(prefix);
    const bool unnamed = file.fd.fd >= 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[NAME_MAX + 1];
        std::snprintf(name, sizeof name, "%s%ld-%d", prefix, static_cast<long>(getpid()), attempt);
        if (!unnamed)
            file.fd.reset(openat(place.dir.fd, name,
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (unnamed ? link_open_file(file.fd.fd, place.dir.fd, name) : file.fd.fd >= 0) {
            std::memcpy(file.temp, name, sizeof name);
            return true;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

// Our temporary name goes again, but only while it still names our file.
void drop_temp(const Place& place, const NewFile& file) {
    struct stat ours {};
    if (file.temp[0] != '\0' && fstat(file.fd.fd, &ours) == 0 &&
        names_file(place.dir.fd, file.temp, ours))
        unlinkat(place.dir.fd, file.temp, 0);
}

// A new file in the target's directory, 0600 until the old file's mode is
// copied (with the usual mode where there is no old file). Unnamed where the
// file system allows, so that nothing is left if we die before it is named.
bool create_new_file(const Place& place, bool has_old, bool may_name, NewFile& file) {
    const mode_t mode = has_old ? 0600 : 0666;
    if (access("/proc/self/fd", X_OK) == 0) {
        file.fd.reset(openat(place.dir.fd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
        if (file.fd.fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
            return file.fd.fd >= 0;
    }
    if (!may_name) {
        errno = EPERM;
        return false;
    }
    return name_new_file(place, file, mode);
}

// The new file takes the target's name: over the old file, or where there was
// none, only while the name is still free.
bool give_name(const Place& place, bool has_old, NewFile& file) {
    if (has_old) return renameat(place.dir.fd, file.temp, place.dir.fd, place.name) == 0;
    if (file.temp[0] == '\0') return link_open_file(file.fd.fd, place.dir.fd, place.name);
    if (renameat2(place.dir.fd, file.temp, place.dir.fd, place.name, RENAME_NOREPLACE) == 0)
        return true;
    // Without renameat2 a second link fails on a taken name just as well.
    if ((errno != EINVAL && errno != ENOSYS) ||
        !link_open_file(file.fd.fd, place.dir.fd, place.name))
        return false;
    drop_temp(place, file);
    return true;
}

// Writes a new file beside the old one and gives it the old one's name, so a
// reader sees either the old record or the new one, never a mix. On failure
// nothing of ours is left and the failed step is returned.
bool replace_through_new_file(const Place& place, int dir, bool keeps_names, int gate,
                              const struct stat& old, const unsigned char (&bytes)[CONFIG_SIZE],
                              Failure& failure) {
    NewFile file;
    const auto fail = [&](SaveStep step) {
        failure = {step, errno};
        drop_temp(place, file);
        return false;
    };
    if (!keeps_names) remove_leftovers(place, dir);
    if (!create_new_file(place, gate >= 0, !keeps_names, file)) return fail(SaveStep::create);
    if (gate >= 0 && !copy_metadata(gate, old, file.fd.fd)) return fail(SaveStep::copy_metadata);
    // Made through another user's link: theirs, or the next load refuses it.
    if (gate < 0 && place.foreign &&
        fchown(file.fd.fd, place.link_owner, static_cast<gid_t>(-1)) != 0)
        return fail(SaveStep::copy_metadata);
    if (!write_all(file.fd.fd, bytes, CONFIG_SIZE, false)) return fail(SaveStep::write);
    if (gate >= 0 && fchmod(file.fd.fd, old.st_mode & 07777) != 0)
        return fail(SaveStep::copy_metadata);
    if (fsync(file.fd.fd) != 0) return fail(SaveStep::flush);
    if (gate >= 0 && file.temp[0] == '\0' && !name_new_file(place, file, 0))
        return fail(SaveStep::create);
    if (!give_name(place, gate >= 0, file)) return fail(SaveStep::replace);
    // A temporary name stood in the directory before the rename: whoever may
    // rename there could have swapped their own file in under it.
    struct stat ours {};
    if (fstat(file.fd.fd, &ours) != 0 || !names_file(place.dir.fd, place.name, ours)) {
        failure = {SaveStep::flush, EIO};  // never in place over what is there now
        return false;
    }
    if (dir >= 0) fsync(dir);  // the name is given; a directory that cannot flush changes nothing
    return true;
}

// Another name for the file in a directory others may write (its group, anyone,
// or an owner who is neither us nor root), where the kernel lets anyone link
// files they may not write: it may be another user's link to any file on this
// file system, root's included.
bool link_may_be_planted(const Place& place, int fd, const struct stat& old) {
    struct stat now {};
    struct stat dir {};
    if (fstat(fd, &now) != 0 || fstat(place.dir.fd, &dir) != 0) return true;
    if (old.st_nlink <= 1 && now.st_nlink <= 1) return false;
    if ((dir.st_mode & (S_IWGRP | S_IWOTH)) == 0 && (dir.st_uid == geteuid() || dir.st_uid == 0))
        return false;
    char value = '0';
    const Fd knob(open("/proc/sys/fs/protected_hardlinks", O_RDONLY | O_CLOEXEC));
    return knob.fd < 0 || read(knob.fd, &value, 1) != 1 || value != '1';
}

// Overwrites the open file where a new file cannot take its place. Nothing is
// written unless all of it can be: the blocks are reserved first and the file
// size limit must allow the record.
bool write_in_place(const Place& place, int fd, const struct stat& old,
                    const unsigned char (&bytes)[CONFIG_SIZE]) {
    if (link_may_be_planted(place, fd, old)) return false;
    struct rlimit limit {};
    if (getrlimit(RLIMIT_FSIZE, &limit) != 0 ||
        (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < CONFIG_SIZE))
        return false;
    if (fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, CONFIG_SIZE) != 0 && errno != EOPNOTSUPP &&
        errno != ENOSYS)
        return false;
    if (!write_all(fd, bytes, CONFIG_SIZE, true) || ftruncate(fd, CONFIG_SIZE) != 0) return false;
    // The write and the cut cleared set-id bits unless we are root; only the
    // owner may put them back.
    struct stat now {};
    if ((old.st_mode & 06000) != 0 && fstat(fd, &now) == 0 &&
        (now.st_mode & 06000) != (old.st_mode & 06000))
        fchmod(fd, (now.st_mode & 07777) | (old.st_mode & 06000));
    return fsync(fd) == 0;
}

// The existing file opened for writing: whether the operator may change it at
// all. Only a regular file, and the very one found at the name.
bool open_gate(const Place& place, Fd& gate, struct stat& old) {
    if (place.file.fd < 0) return true;
    if (!S_ISREG(place.info.st_mode)) return false;
    gate.reset(openat(place.dir.fd, place.name,
                      O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    return gate.fd >= 0 && fstat(gate.fd, &old) == 0 && same_file(old, place.info);
}

// The save rule in its order; false where the save ends with the disk error.
bool save_record() {
    // The file through its links, if any, and one the operator may write.
    Place place;
    Fd gate;
    struct stat old {};
    if (!find_place(place) || !open_gate(place, gate, old)) return false;
    unsigned char bytes[CONFIG_SIZE];
    prepare_config_for_save(bytes);
    const Fd dir(reopen_dir(place));
    const bool has_old = gate.fd >= 0;
    const bool keeps_names = append_only(dir.fd);
    if (has_old && !names_file(place.dir.fd, place.name, old)) return false;
    // Another name for the same file, or a directory that would keep our
    // temporary name: a new file cannot take this one's place.
    if (has_old && (old.st_nlink > 1 || keeps_names))
        return write_in_place(place, gate.fd, old, bytes);
    Failure failure{};
    if (replace_through_new_file(place, dir.fd, keeps_names, gate.fd, old, bytes, failure))
        return true;
    return has_old && write_in_place_after(failure.step, failure.error) &&
           write_in_place(place, gate.fd, old, bytes);
}

}  // namespace

void load_config() {
    Place place;
    Fd fd;
    struct stat info {};
    // A FIFO, device or directory of that name is no settings file.
    if (find_place(place) && place.file.fd >= 0 && S_ISREG(place.info.st_mode))
        fd.reset(openat(place.dir.fd, place.name,
                        O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.fd < 0 || fstat(fd.fd, &info) != 0 || !same_file(info, place.info)) {
        use_default_config();
        return;
    }
    unsigned char bytes[CONFIG_SIZE];
    size_t got = 0;
    while (got < CONFIG_SIZE) {
        const ssize_t n = read(fd.fd, bytes + got, CONFIG_SIZE - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
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
    if (!save_record()) config_disk_error();
    sigaction(SIGXFSZ, &previous_xfsz, nullptr);
    // The file is saved and the program only says goodbye now: a signal that
    // would end it stays held, or its status would say nothing was saved.
    sigset_t held = previous;
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&held, sig);
    sigprocmask(SIG_SETMASK, &held, nullptr);
}
