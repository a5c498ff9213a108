// The settings store against real files: each test runs in a fresh directory.
// Expected file contents are built byte by byte here, never with the store's
// own encoder.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "config.h"
#include "fake_terminal.h"
#include "main_screen.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_view_literals;
using Bytes = std::vector<unsigned char>;

constexpr uid_t NOBODY = 65534;

Bytes field(std::string_view text) {
    Bytes out(text.begin(), text.end());
    out.resize(80, 0);
    return out;
}

// Little-endian by hand, whatever the host's byte order.
Bytes record(std::uint16_t magic, std::int16_t aux, std::string_view main, std::string_view editor,
             std::uint8_t flags) {
    const auto raw_aux = static_cast<std::uint16_t>(aux);
    Bytes out{static_cast<unsigned char>(magic & 0xFF), static_cast<unsigned char>(magic >> 8),
              static_cast<unsigned char>(raw_aux & 0xFF), static_cast<unsigned char>(raw_aux >> 8)};
    for (const Bytes& f : {field(main), field(editor)}) out.insert(out.end(), f.begin(), f.end());
    out.push_back(flags);
    return out;
}

void write_file(const char* name, const Bytes& bytes) {
    std::ofstream(name, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

Bytes read_file(const fs::path& name) {
    std::ifstream in(name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes memory_record() {
    Bytes out(CONFIG_SIZE);
    std::memcpy(out.data(), &config_record, CONFIG_SIZE);
    return out;
}

std::string dir_text(const char (&dir)[80]) {
    return std::string(dir, strnlen(dir, sizeof dir));
}

void set_dir(char (&dir)[80], std::string_view text) {
    std::memset(dir, 0, sizeof dir);
    std::memcpy(dir, text.data(), text.size());
}

struct stat stat_of(const char* name, bool follow = true) {
    struct stat info {};
    EXPECT_EQ(follow ? stat(name, &info) : lstat(name, &info), 0) << name;
    return info;
}

// A record with something in every byte that must survive: a foreign magic,
// a negative aux_value, text after each NUL, code page 437 letters and flag
// bits 2..7.
const Bytes OLD = record(0x1234, -12345, "c:/bbs/\0old tail"sv, "d:/q\x94/\0\x01\x02"sv, 0xA6);
const Bytes NEW =
    record(CONFIG_MAGIC, -12345, "c:/bbs/\0old tail"sv, "d:/q\x94/\0\x01\x02"sv, 0xA6);

class Store : public ::testing::Test {
   protected:
    void SetUp() override {
        std::string name = (fs::temp_directory_path() / "quenda-store-XXXXXX").string();
        ASSERT_NE(mkdtemp(name.data()), nullptr);
        root_ = name;
        work_ = root_ / "work";
        fs::create_directory(work_);
        // Traversable, so a test may drop to an unprivileged user.
        fs::permissions(root_,
                        fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
        cwd_ = fs::current_path();
        fs::current_path(work_);
        std::memset(&config_record, 0, sizeof config_record);  // as at start-up
    }

    void TearDown() override {
        fs::current_path(cwd_);
        std::error_code ignored;
        fs::permissions(work_, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(root_, ignored);
    }

    // The names in the working directory: a leftover temporary file shows here.
    static std::vector<std::string> entries() {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator("."))
            names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    // Saves in a child that must end with status 0 after printing exactly the
    // disk error. `before` runs in the child first.
    void expect_disk_error(const std::function<void()>& before = [] {}) {
        const std::string out = (root_ / "stdout").string();
        EXPECT_EXIT(
            {
                std::fflush(stdout);
                const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) std::_Exit(98);
                before();
                save_config();
                std::_Exit(99);  // the save claimed success
            },
            ::testing::ExitedWithCode(0), "");
        const Bytes said = read_file(out);
        EXPECT_EQ(std::string(said.begin(), said.end()), "\nDisk error, cannot save quenda.cfg.");
    }

    fs::path root_, work_, cwd_;
};

// Root ignores permission bits; run as nobody where that matters.
void become_unprivileged() {
    if (geteuid() != 0) return;
    if (setgroups(0, nullptr) != 0 || setresgid(NOBODY, NOBODY, NOBODY) != 0 ||
        setresuid(NOBODY, NOBODY, NOBODY) != 0) {
        std::_Exit(97);
    }
}

void expect_defaults() {
    EXPECT_EQ(dir_text(config_record.main_dir), "c:/bbs/main/");
    EXPECT_EQ(dir_text(config_record.editor_dir), "d:/bbs/quenda/");
    EXPECT_EQ(config_record.aux_value, 0);
    EXPECT_EQ(config_record.flags, FLAG_BACKUP);
    EXPECT_EQ(config_record.magic, 0);
}

using Load = Store;

TEST_F(Load, NoFileGivesTheDefaults) {
    load_config();
    expect_defaults();
    EXPECT_TRUE(entries().empty());
}

// Neither may block the load or be taken for settings.
TEST_F(Load, FifoOrDirectoryGivesTheDefaults) {
    ASSERT_EQ(mkfifo("quenda.cfg", 0644), 0);
    load_config();
    expect_defaults();
    EXPECT_TRUE(S_ISFIFO(stat_of("quenda.cfg").st_mode));

    ASSERT_EQ(unlink("quenda.cfg"), 0);
    ASSERT_EQ(mkdir("quenda.cfg", 0755), 0);
    std::memset(&config_record, 0, sizeof config_record);
    load_config();
    expect_defaults();
}

// A zero device would read as a record of zeros.
TEST_F(Load, DeviceGivesTheDefaults) {
    if (mknod("quenda.cfg", S_IFCHR | 0644, makedev(1, 5)) != 0) GTEST_SKIP() << "mknod needs root";
    load_config();
    expect_defaults();
}

// Another user's link may not make root read what that user could not.
TEST_F(Load, LinkOfAnotherUserToAFileNotTheirsGivesTheDefaults) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to plant another user's link";
    write_file("../secret.cfg", OLD);
    ASSERT_EQ(symlink("../secret.cfg", "quenda.cfg"), 0);
    ASSERT_EQ(lchown("quenda.cfg", NOBODY, NOBODY), 0);
    load_config();
    expect_defaults();
}

TEST_F(Load, ShortFileFillsWhatItHasAndLeavesTheRestZero) {
    write_file("quenda.cfg", {0x89, 0x63, 0xFE, 0xFF});
    load_config();
    EXPECT_EQ(config_record.magic, CONFIG_MAGIC);
    EXPECT_EQ(config_record.aux_value, -2);
    EXPECT_EQ(memory_record(), record(CONFIG_MAGIC, -2, "", "", 0));
    EXPECT_EQ(config_record.flags & (FLAG_BACKUP | FLAG_LOGFILE), 0);
}

TEST_F(Load, OnlyTheFirst165BytesOfALongOrHugeFileCount) {
    Bytes file = OLD;
    file.insert(file.end(), 4096, 0xEE);
    write_file("quenda.cfg", file);
    // Sparse, so it costs no disk; a load that read all of it would not finish.
    off_t huge = off_t{1} << 40;
    while (truncate("quenda.cfg", huge) != 0 && huge > (off_t{1} << 30)) huge /= 2;
    ASSERT_EQ(stat_of("quenda.cfg").st_size, huge);
    load_config();
    EXPECT_EQ(memory_record(), OLD);
    EXPECT_EQ(config_record.magic, 0x1234);
    EXPECT_EQ(config_record.aux_value, -12345);
    EXPECT_EQ(config_record.flags, 0xA6);
}

TEST_F(Load, ForeignMagicIsTakenAndTheNextSaveWritesOurs) {
    write_file("quenda.cfg", OLD);
    load_config();
    EXPECT_EQ(config_record.magic, 0x1234);
    EXPECT_EQ(dir_text(config_record.main_dir), "c:/bbs/");
    save_config();
    EXPECT_EQ(read_file("quenda.cfg"), NEW);
}

// 80 bytes with no NUL would let every reader run into the next field.
TEST_F(Load, DirectoryWithoutNulIsCutAt79AndSavedSo) {
    const std::string main(80, 'a');
    const std::string editor(80, 'b');
    write_file("quenda.cfg", record(CONFIG_MAGIC, 7, main, editor, 0x42));
    load_config();
    EXPECT_EQ(dir_text(config_record.main_dir), main.substr(0, 79));
    EXPECT_EQ(dir_text(config_record.editor_dir), editor.substr(0, 79));
    EXPECT_EQ(config_record.flags, 0x42);
    save_config();
    EXPECT_EQ(read_file("quenda.cfg"),
              record(CONFIG_MAGIC, 7, main.substr(0, 79), editor.substr(0, 79), 0x42));
}

using Save = Store;

TEST_F(Save, RoundTripKeepsEveryByte) {
    write_file("quenda.cfg", NEW);
    load_config();
    save_config();
    EXPECT_EQ(read_file("quenda.cfg"), NEW);
    std::memset(&config_record, 0, sizeof config_record);
    load_config();
    EXPECT_EQ(memory_record(), NEW);
    EXPECT_EQ(entries(), std::vector<std::string>{"quenda.cfg"});
}

TEST_F(Save, TrailingSlashIsAddedOnlyWhereMissingAndWhereItFits) {
    const std::string long78(78, 'x');
    const std::string long78_slash = long78 + "/";
    const std::string long79(79, 'y');
    const struct {
        std::string_view before, after;
    } cases[] = {{"", "/"},
                 {"c:/bbs", "c:/bbs/"},
                 {"c:/bbs/", "c:/bbs/"},
                 {"c:/bbs\0tail"sv, "c:/bbs/\0ail"sv},  // as strcat: the new NUL follows the "/"
                 {long78, long78_slash},
                 {long79, long79}};  // no room: the next byte is the flags
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.before));
        std::memset(&config_record, 0, sizeof config_record);
        set_dir(config_record.main_dir, c.before);
        set_dir(config_record.editor_dir, c.before);
        config_record.flags = 0xFE;
        save_config();
        EXPECT_EQ(read_file("quenda.cfg"), record(CONFIG_MAGIC, 0, c.after, c.after, 0xFE));
        EXPECT_EQ(memory_record(), record(CONFIG_MAGIC, 0, c.after, c.after, 0xFE));
    }
}

TEST_F(Save, NewFileGetsTheUmaskModeAndNothingElseIsLeft) {
    const mode_t old_umask = umask(022);
    sigset_t before;
    sigset_t after;
    sigprocmask(SIG_SETMASK, nullptr, &before);
    load_config();
    save_config();
    sigprocmask(SIG_SETMASK, nullptr, &after);
    umask(old_umask);
    EXPECT_EQ(stat_of("quenda.cfg").st_mode & 07777, 0644u);
    EXPECT_EQ(read_file("quenda.cfg"),
              record(CONFIG_MAGIC, 0, "c:/bbs/main/", "d:/bbs/quenda/", 1));
    EXPECT_EQ(entries(), std::vector<std::string>{"quenda.cfg"});
    // After the save only goodbyes follow: what would end the program stays
    // held so its status says the file was saved; suspending works again.
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        EXPECT_EQ(sigismember(&after, sig), 1) << "signal " << sig;
    }
    EXPECT_EQ(sigismember(&after, SIGTSTP), sigismember(&before, SIGTSTP));
    sigprocmask(SIG_SETMASK, &before, nullptr);
    struct sigaction xfsz {};
    sigaction(SIGXFSZ, nullptr, &xfsz);
    EXPECT_EQ(xfsz.sa_handler, SIG_DFL);
}

TEST_F(Save, ExistingFileKeepsItsModeAndOwner) {
    write_file("quenda.cfg", OLD);
    ASSERT_EQ(chmod("quenda.cfg", 0600), 0);
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown("quenda.cfg", NOBODY, NOBODY), 0);
    }
    load_config();
    save_config();
    const struct stat info = stat_of("quenda.cfg");
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    if (root) {
        EXPECT_EQ(info.st_uid, NOBODY);
        EXPECT_EQ(info.st_gid, NOBODY);
    }
    EXPECT_EQ(read_file("quenda.cfg"), NEW);
}

// The target is replaced whole, beside itself, as a plain file is.
TEST_F(Save, SymbolicLinkStaysALinkAndItsTargetGetsTheRecord) {
    write_file("real.cfg", OLD);
    ASSERT_EQ(chmod("real.cfg", 0640), 0);
    ASSERT_EQ(symlink("real.cfg", "quenda.cfg"), 0);
    const ino_t inode = stat_of("real.cfg").st_ino;
    load_config();
    save_config();
    EXPECT_NE(stat_of("real.cfg").st_ino, inode);
    EXPECT_TRUE(S_ISLNK(stat_of("quenda.cfg", false).st_mode));
    EXPECT_EQ(fs::read_symlink("quenda.cfg").string(), "real.cfg");
    EXPECT_EQ(read_file("real.cfg"), NEW);
    EXPECT_EQ(stat_of("real.cfg").st_mode & 07777, 0640u);
    EXPECT_EQ((entries()), (std::vector<std::string>{"quenda.cfg", "real.cfg"}));
}

TEST_F(Save, DanglingLinkGetsItsTargetCreated) {
    ASSERT_EQ(symlink("made.cfg", "quenda.cfg"), 0);
    load_config();
    save_config();
    EXPECT_TRUE(S_ISLNK(stat_of("quenda.cfg", false).st_mode));
    EXPECT_EQ(read_file("made.cfg"), record(CONFIG_MAGIC, 0, "c:/bbs/main/", "d:/bbs/quenda/", 1));
    EXPECT_EQ((entries()), (std::vector<std::string>{"made.cfg", "quenda.cfg"}));
}

// Longer than a record, so the overwrite must also cut it to 165 bytes.
TEST_F(Save, HardLinkedFileIsOverwrittenSoBothNamesSeeTheRecord) {
    Bytes longer = OLD;
    longer.insert(longer.end(), 40, 0xEE);
    write_file("quenda.cfg", longer);
    ASSERT_EQ(link("quenda.cfg", "other.cfg"), 0);
    const ino_t inode = stat_of("quenda.cfg").st_ino;
    load_config();
    save_config();
    EXPECT_EQ(stat_of("quenda.cfg").st_ino, inode);
    EXPECT_EQ(stat_of("quenda.cfg").st_nlink, 2u);
    EXPECT_EQ(read_file("quenda.cfg"), NEW);
    EXPECT_EQ(read_file("other.cfg"), NEW);
    EXPECT_EQ((entries()), (std::vector<std::string>{"other.cfg", "quenda.cfg"}));
}

// "Exit without saving" through the real form: Up from the first field moves
// the focus round to that button.
TEST_F(Save, ExitWithoutSavingLeavesBytesAndTimeAlone) {
    write_file("quenda.cfg", OLD);
    const struct timespec when[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, "quenda.cfg", when, 0), 0);
    reset_fake_terminal();
    script_keys({KEY_UP, KEY_ENTER});
    EXPECT_EQ(main_screen(), 2);
    EXPECT_EQ(read_file("quenda.cfg"), OLD);
    EXPECT_EQ(stat_of("quenda.cfg").st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(entries(), std::vector<std::string>{"quenda.cfg"});
}

using SaveRefused = Store;

// Writable directory, read-only file: replacing the file would be possible,
// but the operator may not change it.
TEST_F(SaveRefused, ReadOnlyFileIsNotReplaced) {
    fs::permissions(work_, fs::perms::all);
    write_file("quenda.cfg", OLD);
    ASSERT_EQ(chmod("quenda.cfg", 0444), 0);
    const ino_t inode = stat_of("quenda.cfg").st_ino;
    load_config();
    expect_disk_error(become_unprivileged);
    EXPECT_EQ(stat_of("quenda.cfg").st_ino, inode);
    EXPECT_EQ(stat_of("quenda.cfg").st_mode & 07777, 0444u);
    EXPECT_EQ(read_file("quenda.cfg"), OLD);
    EXPECT_EQ(entries(), std::vector<std::string>{"quenda.cfg"});
}

TEST_F(SaveRefused, DirectoryIsLeftAsItIs) {
    ASSERT_EQ(mkdir("quenda.cfg", 0755), 0);
    write_file("quenda.cfg/inside", OLD);
    load_config();
    expect_disk_error();
    EXPECT_TRUE(S_ISDIR(stat_of("quenda.cfg").st_mode));
    EXPECT_EQ(read_file("quenda.cfg/inside"), OLD);
    EXPECT_EQ(entries(), std::vector<std::string>{"quenda.cfg"});
}

// Without a reader, a blocking open would wait forever; with one, the record
// must not go down the pipe.
TEST_F(SaveRefused, FifoIsLeftAsItIsWithOrWithoutAReader) {
    ASSERT_EQ(mkfifo("quenda.cfg", 0644), 0);
    load_config();
    expect_disk_error();
    const int reader = open("quenda.cfg", O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    expect_disk_error();
    char byte;
    EXPECT_LE(read(reader, &byte, 1), 0);  // nothing came down the pipe
    close(reader);
    EXPECT_TRUE(S_ISFIFO(stat_of("quenda.cfg").st_mode));
    EXPECT_EQ(entries(), std::vector<std::string>{"quenda.cfg"});
}

// A null device would swallow the record and look like success.
TEST_F(SaveRefused, DeviceIsLeftAsItIs) {
    if (mknod("quenda.cfg", S_IFCHR | 0666, makedev(1, 3)) != 0) GTEST_SKIP() << "mknod needs root";
    load_config();
    expect_disk_error();
    EXPECT_TRUE(S_ISCHR(stat_of("quenda.cfg").st_mode));
    EXPECT_EQ(entries(), std::vector<std::string>{"quenda.cfg"});
}

// A link whose target cannot be created: replacing the link with a file would
// lose where the operator keeps the settings.
TEST_F(SaveRefused, LinkToAMissingDirectoryStaysALink) {
    ASSERT_EQ(symlink("gone/quenda.cfg", "quenda.cfg"), 0);
    load_config();
    expect_disk_error();
    EXPECT_TRUE(S_ISLNK(stat_of("quenda.cfg", false).st_mode));
    EXPECT_EQ(fs::read_symlink("quenda.cfg").string(), "gone/quenda.cfg");
    EXPECT_EQ(entries(), std::vector<std::string>{"quenda.cfg"});
}

}  // namespace
