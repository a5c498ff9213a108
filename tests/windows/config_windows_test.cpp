// Loading and saving "quenda.cfg" through the Windows file calls, each test in
// a fresh directory of its own.
#include "config_windows.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "config.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

Bytes record_bytes(const char* main_dir, const char* editor_dir, unsigned char flags) {
    Bytes bytes(CONFIG_SIZE, 0);
    bytes[0] = 0x89;
    bytes[1] = 0x63;
    std::memcpy(bytes.data() + 4, main_dir, std::strlen(main_dir));
    std::memcpy(bytes.data() + 84, editor_dir, std::strlen(editor_dir));
    bytes[164] = flags;
    return bytes;
}

void write_file(const fs::path& name, const Bytes& bytes) {
    std::ofstream out(name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

Bytes read_file(const fs::path& name) {
    std::ifstream in(name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// A directory run.sh made on a file system of its own (a small one to fill, or
// one whose "quenda.cfg" is a mount point), as Wine names it: the Unix root is
// drive Z:. Empty when there is none, as when run.sh is not run by root.
fs::path prepared_directory(const char* name) {
    const char* root = std::getenv("QUENDA_WINE_MOUNTS");
    if (root == nullptr || *root == '\0') return {};
    return fs::path(std::string("Z:") + root) / name;
}

// Removes what can be removed: a mount point stays.
void empty_directory(const fs::path& dir) {
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(dir, ignored))
        fs::remove_all(entry.path(), ignored);
}

// Fills the file system of the current directory to its last byte.
void fill_disk() {
    HANDLE fill =
        CreateFileA("fill", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(fill, INVALID_HANDLE_VALUE);
    static const char block[4096] = {};
    for (DWORD size = sizeof block; size > 0;) {
        DWORD n = 0;
        if (!WriteFile(fill, block, size, &n, nullptr) || n < size) size /= 2;
    }
    CloseHandle(fill);
}

class ConfigWindows : public ::testing::Test {
   protected:
    // Named after the test, not the process: a death test's child process runs
    // the test again and must work in the same directory as its parent. It
    // only empties it, as the parent's working directory cannot be removed.
    void SetUp() override {
        home_ = fs::current_path();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() / (std::string("quenda_config_test.") + info->name());
        fs::create_directories(dir_);
        clear_read_only();
        empty_directory(dir_);
        fs::current_path(dir_);
        config_record = {};
    }
    void TearDown() override {
        fs::current_path(home_);
        clear_read_only();
        fs::remove_all(dir_);
    }
    void clear_read_only() {
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(dir_, ignored)) {
            SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
        }
    }
    // The names in the current directory, to see that no temporary file was left.
    static std::vector<std::string> names() {
        std::vector<std::string> out;
        for (const auto& entry : fs::directory_iterator(fs::current_path()))
            out.push_back(entry.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    // Runs save_config in a child process that must report the disk error.
    // Its standard output goes to the test's own directory, where there is room.
    void expect_disk_error() {
        const fs::path out = dir_ / "stdout.txt";
        EXPECT_EXIT(
            {
                _wfreopen(out.c_str(), L"w", stdout);
                save_config();
            },
            ::testing::ExitedWithCode(0), "");
        EXPECT_EQ(read_file(out), Bytes(std::begin(DISK_ERROR), std::end(DISK_ERROR) - 1));
        fs::remove(out);
    }

    // Standard output is in text mode, as the program's own is: "\n" becomes "\r\n".
    static constexpr char DISK_ERROR[] = "\r\nDisk error, cannot save quenda.cfg.";
    fs::path home_;
    fs::path dir_;
};

TEST_F(ConfigWindows, NoFileGivesTheDefaults) {
    load_config();
    EXPECT_STREQ(config_record.main_dir, "c:/bbs/main/");
    EXPECT_STREQ(config_record.editor_dir, "d:/bbs/quenda/");
    EXPECT_EQ(config_record.flags, FLAG_BACKUP);
    EXPECT_EQ(config_record.magic, 0);
}

TEST_F(ConfigWindows, ADirectoryOfThatNameGivesTheDefaults) {
    fs::create_directory(CONFIG_FILE_NAME);
    load_config();
    EXPECT_STREQ(config_record.main_dir, "c:/bbs/main/");
}

TEST_F(ConfigWindows, AShortFileLeavesTheRestZero) {
    write_file(CONFIG_FILE_NAME, {0x12, 0x34, 0x05, 0x00});
    load_config();
    EXPECT_EQ(config_record.magic, 0x3412);
    EXPECT_EQ(config_record.aux_value, 5);
    EXPECT_STREQ(config_record.main_dir, "");
    EXPECT_STREQ(config_record.editor_dir, "");
    EXPECT_EQ(config_record.flags, 0);
}

TEST_F(ConfigWindows, ALongFileIsReadForItsRecordOnly) {
    Bytes bytes = record_bytes("c:/a/", "d:/b/", 0x02);
    bytes.resize(4096, 'z');
    write_file(CONFIG_FILE_NAME, bytes);
    load_config();
    EXPECT_STREQ(config_record.editor_dir, "d:/b/");
    EXPECT_EQ(config_record.flags, 0x02);
}

TEST_F(ConfigWindows, SaveThenLoadKeepsEveryByte) {
    Bytes bytes = record_bytes("c:/main/", "d:/editor/", 0xF6);
    bytes[2] = 0xFE;                    // aux_value -2
    std::memcpy(&bytes[20], "old", 3);  // a tail behind the NUL
    write_file(CONFIG_FILE_NAME, bytes);
    load_config();
    save_config();
    EXPECT_EQ(read_file(CONFIG_FILE_NAME), bytes);
    EXPECT_EQ(names(), std::vector<std::string>{CONFIG_FILE_NAME});
}

TEST_F(ConfigWindows, SaveWritesANewFileWithTheSlashesAndTheMagic) {
    std::strcpy(config_record.main_dir, "c:/bbs");
    save_config();
    EXPECT_EQ(read_file(CONFIG_FILE_NAME), record_bytes("c:/bbs/", "/", 0x00));
    EXPECT_EQ(names(), std::vector<std::string>{CONFIG_FILE_NAME});
}

TEST_F(ConfigWindows, AReadOnlyFileIsADiskErrorAndStaysAsItWas) {
    const Bytes before = record_bytes("c:/old/", "d:/old/", 0x01);
    write_file(CONFIG_FILE_NAME, before);
    ASSERT_TRUE(SetFileAttributesA(CONFIG_FILE_NAME, FILE_ATTRIBUTE_READONLY));
    // Also where the file opens for writing all the same, as it does for root
    // under Wine: run.sh runs this once more with that right.
    load_config();
    std::strcpy(config_record.main_dir, "c:/new/");
    expect_disk_error();
    EXPECT_EQ(read_file(CONFIG_FILE_NAME), before);
    EXPECT_NE(GetFileAttributesA(CONFIG_FILE_NAME) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(names(), std::vector<std::string>{CONFIG_FILE_NAME});
}

TEST_F(ConfigWindows, ADirectoryOfThatNameIsADiskError) {
    fs::create_directory(CONFIG_FILE_NAME);
    load_config();
    expect_disk_error();
    EXPECT_TRUE(fs::is_directory(CONFIG_FILE_NAME));
    EXPECT_EQ(names(), std::vector<std::string>{CONFIG_FILE_NAME});
}

// Replacing the name would leave the other link with the old record.
TEST_F(ConfigWindows, AHardLinkedFileIsOverwrittenInPlace) {
    write_file(CONFIG_FILE_NAME, record_bytes("c:/old/", "d:/old/", 0x01));
    ASSERT_TRUE(CreateHardLinkA("other.cfg", CONFIG_FILE_NAME, nullptr));
    load_config();
    std::strcpy(config_record.main_dir, "c:/new/");
    save_config();
    const Bytes expected = record_bytes("c:/new/", "d:/old/", 0x01);
    EXPECT_EQ(read_file(CONFIG_FILE_NAME), expected);
    EXPECT_EQ(read_file("other.cfg"), expected);
}

// Another program holding the file open without delete sharing stops a
// replace, not a save.
TEST_F(ConfigWindows, AFileHeldOpenByAnotherProgramIsStillSaved) {
    write_file(CONFIG_FILE_NAME, record_bytes("c:/old/", "d:/old/", 0x01));
    HANDLE held = CreateFileA(CONFIG_FILE_NAME, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    load_config();
    std::strcpy(config_record.editor_dir, "d:/new");
    save_config();
    CloseHandle(held);
    EXPECT_EQ(read_file(CONFIG_FILE_NAME), record_bytes("c:/old/", "d:/new/", 0x01));
    EXPECT_EQ(names(), std::vector<std::string>{CONFIG_FILE_NAME});
}

// A full disk takes no second copy, but the old file's own blocks take the
// record, as on Linux.
TEST_F(ConfigWindows, ANewFileTheDiskHasNoRoomForIsWrittenInPlace) {
    const fs::path small = prepared_directory("full");
    if (small.empty()) GTEST_SKIP() << "no small file system to fill: run.sh mounts one as root";
    empty_directory(small);
    fs::current_path(small);
    write_file(CONFIG_FILE_NAME, record_bytes("c:/old/", "d:/old/", 0x01));
    fill_disk();
    load_config();
    std::strcpy(config_record.main_dir, "c:/new/");
    save_config();
    EXPECT_EQ(read_file(CONFIG_FILE_NAME), record_bytes("c:/new/", "d:/old/", 0x01));
    EXPECT_EQ(names(), (std::vector<std::string>{"fill", CONFIG_FILE_NAME}));
}

// A mount point cannot be replaced (Wine gives ERROR_LOCK_VIOLATION): a
// refusal that is not another program holding the file is no reason to
// overwrite it in place.
TEST_F(ConfigWindows, AReplaceRefusedForAnotherReasonLeavesTheOldFileAsItWas) {
    const fs::path mounted = prepared_directory("mounted");
    if (mounted.empty()) GTEST_SKIP() << "no mounted file: run.sh mounts one as root";
    empty_directory(mounted);
    fs::current_path(mounted);
    const Bytes before = record_bytes("c:/old/", "d:/old/", 0x01);
    write_file(CONFIG_FILE_NAME, before);
    load_config();
    std::strcpy(config_record.main_dir, "c:/new/");
    expect_disk_error();
    EXPECT_EQ(read_file(CONFIG_FILE_NAME), before);
    // Wine's ReplaceFileW moves the old file aside to a name of its own first
    // and leaves that name behind when the move fails; Windows' makes none.
    std::vector<std::string> left = names();
    std::erase_if(left,
                  [](const std::string& n) { return n.starts_with("rf") && n.ends_with(".tmp"); });
    EXPECT_EQ(left, std::vector<std::string>{CONFIG_FILE_NAME});
}

TEST_F(ConfigWindows, AHiddenFileStaysHidden) {
    write_file(CONFIG_FILE_NAME, record_bytes("c:/old/", "d:/old/", 0x01));
    ASSERT_TRUE(SetFileAttributesA(CONFIG_FILE_NAME, FILE_ATTRIBUTE_HIDDEN));
    load_config();
    save_config();
    const DWORD attributes = GetFileAttributesA(CONFIG_FILE_NAME);
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(attributes & FILE_ATTRIBUTE_HIDDEN, 0u);
}

// After a failed step of a save through a new file: overwrite the old file in
// place, or leave it as it is and report the disk error.
TEST(ConfigWindowsSaveRule, InPlaceOnlyWhereNoNewFileCanTakeTheOldOnesPlace) {
    struct Row {
        SaveStep step;
        DWORD error;
        bool in_place;
    };
    const Row rows[] = {
        // No new file can be made in the directory.
        {SaveStep::create, ERROR_ACCESS_DENIED, true},
        {SaveStep::create, ERROR_WRITE_PROTECT, true},
        {SaveStep::create, ERROR_DISK_FULL, true},
        {SaveStep::create, ERROR_HANDLE_DISK_FULL, true},
        // The disk reports a fault, or every temporary name is taken.
        {SaveStep::create, ERROR_IO_DEVICE, false},
        {SaveStep::create, ERROR_CRC, false},
        {SaveStep::create, ERROR_FILE_EXISTS, false},
        // A new file the disk has no room to fill: the old one's blocks can take the record.
        {SaveStep::write, ERROR_DISK_FULL, true},
        {SaveStep::write, ERROR_HANDLE_DISK_FULL, true},
        // A new file that was made but not written or flushed for any other reason.
        {SaveStep::write, ERROR_IO_DEVICE, false},
        {SaveStep::write, ERROR_CRC, false},
        {SaveStep::write, ERROR_ACCESS_DENIED, false},
        {SaveStep::flush, ERROR_DISK_FULL, false},
        {SaveStep::flush, ERROR_IO_DEVICE, false},
        // Another program holds the old file open.
        {SaveStep::replace, ERROR_SHARING_VIOLATION, true},
        {SaveStep::replace, ERROR_ACCESS_DENIED, true},
        {SaveStep::replace, ERROR_UNABLE_TO_REMOVE_REPLACED, true},
        // The move itself failed.
        {SaveStep::replace, ERROR_IO_DEVICE, false},
        {SaveStep::replace, ERROR_CRC, false},
        {SaveStep::replace, ERROR_LOCK_VIOLATION, false},
        {SaveStep::replace, ERROR_DISK_FULL, false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(may_write_in_place(row.step, row.error), row.in_place)
            << "step " << static_cast<int>(row.step) << ", error " << row.error;
    }
}

}  // namespace
