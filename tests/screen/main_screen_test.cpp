// The whole form driven by scripted keys: what it draws, where the focus goes,
// what reaches the settings record and how the program ends.
#include "main_screen.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "config.h"
#include "fake_terminal.h"
#include "screen_assert.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}
std::string shade(int n) { return repeat("░", n); }
std::string blanks(int n) { return std::string(static_cast<size_t>(n), ' '); }
std::string backdrop_row() { return "{B:" + shade(80) + "}|"; }

const std::string TITLE_ROW =
    "{N:  Quenda Setup  -  paths and options of the Quenda editor for VESK BBS          }|";
const std::string HELP_ROW =
    "{N:|  SPACE to set  |  up/down to select  |  Main Menu" + blanks(29) + "}|";

std::string box_row(const std::string& attr_text) {
    return "{B:" + shade(26) + "}" + attr_text + "{B:" + shade(28) + "}|";
}
std::string button_row(char attr, const std::string& text, bool cursor = false) {
    return "{B:" + shade(24) + "}{" + attr + ":" + (cursor ? "^" : "") + text + "}{B:" + shade(27) + "}|";
}

Bytes record_bytes(const char* main_dir, const char* editor_dir, unsigned char flags,
                   unsigned char aux_low = 0) {
    Bytes bytes(CONFIG_SIZE, 0);
    bytes[0] = 0x89;
    bytes[1] = 0x63;
    bytes[2] = aux_low;
    std::memcpy(bytes.data() + 4, main_dir, std::strlen(main_dir));
    std::memcpy(bytes.data() + 84, editor_dir, std::strlen(editor_dir));
    bytes[164] = flags;
    return bytes;
}

class MainScreen : public ::testing::Test {
protected:
    void SetUp() override {
        home_ = fs::current_path();
        dir_ = fs::temp_directory_path() / ("main_screen_test." + std::to_string(getpid()));
        fs::create_directories(dir_);
        fs::current_path(dir_);
        reset_fake_terminal();
        config_record = {};
    }
    void TearDown() override {
        fs::current_path(home_);
        fs::remove_all(dir_);
    }
    static void write_file(const Bytes& bytes) {
        std::ofstream out(CONFIG_FILE_NAME, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    static Bytes read_file() {
        std::ifstream in(CONFIG_FILE_NAME, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    const Grid& snapshot(size_t i) {
        EXPECT_GT(snapshots().size(), i);
        return snapshots().at(i);
    }

    fs::path home_;
    fs::path dir_;
};

TEST_F(MainScreen, DefaultFormAsFirstShown) {
    script_keys({SNAPSHOT, KEY_UP, KEY_ENTER});
    EXPECT_EQ(main_screen(), 2);
    const Grid& form = snapshot(0);
    EXPECT_SNAPSHOT_ROWS(form, 1, TITLE_ROW, backdrop_row(), backdrop_row(), backdrop_row());
    EXPECT_SNAPSHOT_ROWS(
        form, 5,
        "{B:░░░}{N:    VESK main directory: }{H:c:/bbs/main/}{F:^" + blanks(38) + "}{B:░░}|",
        "{B:░░░}{N:       Quenda directory: }{F:d:/bbs/quenda/" + blanks(36) + "}{B:░░}|",
        backdrop_row(), backdrop_row(), backdrop_row(),
        box_row("{T:    Main toggless         }"),
        box_row("{O: [X]  Backup when save    }"),
        box_row("{O: [ ]  Create logfile      }"));
    for (int row = 13; row <= 19; ++row) EXPECT_SNAPSHOT_ROWS(form, row, backdrop_row());
    EXPECT_SNAPSHOT_ROWS(form, 20, button_row('N', "[       Save and exit       ]"),
                         button_row('N', "[    Exit without saving    ]"), backdrop_row(),
                         backdrop_row(), backdrop_row(), HELP_ROW);
}

TEST_F(MainScreen, LoadedFileWithBothOptionsAndAnOverlongDirectory) {
    const std::string long_dir = "e:/" + repeat("abcdefghij", 6) + "/";  // 64 characters
    write_file(record_bytes("c:/vesk/", long_dir.c_str(), FLAG_BACKUP | FLAG_LOGFILE));
    script_keys({SNAPSHOT, KEY_UP, KEY_ENTER});
    EXPECT_EQ(main_screen(), 2);
    EXPECT_SNAPSHOT_ROWS(
        snapshot(0), 5,
        "{B:░░░}{N:    VESK main directory: }{H:c:/vesk/}{F:^" + blanks(42) + "}{B:░░}|",
        // Cut at the field's end: the backdrop right of it stays whole.
        "{B:░░░}{N:       Quenda directory: }{F:" + long_dir.substr(0, 50) + "}{B:░░}|");
    EXPECT_SNAPSHOT_ROWS(snapshot(0), 11, box_row("{O: [X]  Backup when save    }"),
                         box_row("{O: [X]  Create logfile      }"));
    // Never visited, so the record still holds the whole text.
    EXPECT_EQ(std::string(config_record.editor_dir), long_dir);
}

TEST_F(MainScreen, DownFiveTimesReachesExitWithoutSavingAndOnceMoreWrapsToTheStart) {
    script_keys({KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_DOWN, SNAPSHOT, KEY_DOWN, SNAPSHOT,
                 KEY_UP, KEY_ENTER});
    EXPECT_EQ(main_screen(), 2);
    EXPECT_SNAPSHOT_ROWS(snapshot(0), 20, button_row('N', "[       Save and exit       ]"),
                         button_row('P', "[    Exit without saving    ]", true));
    // Every field it passed is back in its resting look.
    EXPECT_SNAPSHOT_ROWS(
        snapshot(0), 5,
        "{B:░░░}{N:    VESK main directory: }{F:c:/bbs/main/" + blanks(38) + "}{B:░░}|",
        "{B:░░░}{N:       Quenda directory: }{F:d:/bbs/quenda/" + blanks(36) + "}{B:░░}|");
    EXPECT_SNAPSHOT_ROWS(snapshot(0), 11, box_row("{O: [X]  Backup when save    }"),
                         box_row("{O: [ ]  Create logfile      }"));
    EXPECT_SNAPSHOT_ROWS(
        snapshot(1), 5,
        "{B:░░░}{N:    VESK main directory: }{H:c:/bbs/main/}{F:^" + blanks(38) + "}{B:░░}|");
    EXPECT_SNAPSHOT_ROWS(snapshot(1), 21, button_row('N', "[    Exit without saving    ]"));
}

TEST_F(MainScreen, UpFromTheStartReachesExitWithoutSaving) {
    script_keys({KEY_UP, SNAPSHOT, KEY_ENTER});
    EXPECT_EQ(main_screen(), 2);
    EXPECT_SNAPSHOT_ROWS(snapshot(0), 21, button_row('P', "[    Exit without saving    ]", true));
}

TEST_F(MainScreen, EnterInADirectoryFieldMovesDownLikeDown) {
    script_keys({KEY_ENTER, SNAPSHOT, KEY_ENTER, SNAPSHOT, KEY_UP, KEY_UP, KEY_UP, KEY_ENTER});
    EXPECT_EQ(main_screen(), 2);
    EXPECT_SNAPSHOT_ROWS(
        snapshot(0), 6,
        "{B:░░░}{N:       Quenda directory: }{H:d:/bbs/quenda/}{F:^" + blanks(36) + "}{B:░░}|");
    EXPECT_SNAPSHOT_ROWS(snapshot(1), 11, box_row("{H: [^X]  Backup when save    }"));
}

TEST_F(MainScreen, ButtonsIgnoreEveryKeyButEnterUpAndDown) {
    script_keys({KEY_UP, SNAPSHOT, 'a', KEY_SPACE, KEY_ESC, KEY_TAB, KEY_F1, KEY_LEFT, KEY_PAD_ENTER, SNAPSHOT,
                 KEY_UP, SNAPSHOT, 'q', KEY_ESC, KEY_SPACE, KEY_DOWN, KEY_ENTER});
    EXPECT_EQ(main_screen(), 2);
    EXPECT_EQ(screen_literal(snapshot(0)), screen_literal(snapshot(1)));
    EXPECT_SNAPSHOT_ROWS(snapshot(2), 20, button_row('P', "[       Save and exit       ]", true),
                         button_row('N', "[    Exit without saving    ]"));
    EXPECT_FALSE(fs::exists(CONFIG_FILE_NAME));
}

TEST_F(MainScreen, OptionResultsSetAndClearTheirOwnBits) {
    write_file(record_bytes("c:/a/", "d:/b/", 0xF1));  // backup on, logfile off, high bits set
    // Backup: Space then Down clears it. Logfile: Space then Up sets it. Backup
    // again: Up without Space leaves it clear.
    script_keys({KEY_DOWN, KEY_DOWN, KEY_SPACE, KEY_DOWN, KEY_SPACE, KEY_UP, KEY_UP, KEY_UP, KEY_UP,
                 KEY_UP, KEY_ENTER});
    EXPECT_EQ(main_screen(), 1);
    EXPECT_EQ(read_file(), record_bytes("c:/a/", "d:/b/", 0xF2));
}

TEST_F(MainScreen, SaveAndExitWritesTheRecordAndLeavesTheClosingMessage) {
    script_keys({KEY_BACKSPACE, KEY_BACKSPACE, KEY_BACKSPACE, KEY_BACKSPACE, KEY_BACKSPACE, 'g', 'a',
                 'm', 'e', 's', KEY_ENTER, KEY_DOWN, KEY_SPACE, KEY_DOWN, KEY_DOWN, KEY_ENTER});
    EXPECT_EQ(main_screen(), 1);
    EXPECT_EQ(read_file(), record_bytes("c:/bbs/games/", "d:/bbs/quenda/", 0));
    EXPECT_ROWS(1, "{P:" + blanks(80) + "}|", "{P:" + blanks(80) + "}|",
                "{P:Configuration saved. Have a nice day!" + blanks(43) + "}|",
                "{P:^" + blanks(80) + "}|");
    for (int row = 5; row <= 25; ++row) EXPECT_ROWS(row, "{P:" + blanks(80) + "}|");
    EXPECT_TRUE(screen_was_closed());
    EXPECT_TRUE(screen_kept_text());
    EXPECT_EQ(keys_left(), 0);
}

TEST_F(MainScreen, ExitWithoutSavingAfterEditsLeavesTheFileAsItWas) {
    const Bytes original = record_bytes("c:/keep/", "d:/keep/", 0x81, 0x7F);
    write_file(original);
    struct stat before {};
    ASSERT_EQ(stat(CONFIG_FILE_NAME, &before), 0);
    script_keys({'x', 'y', KEY_DOWN, KEY_BACKSPACE, KEY_DOWN, KEY_SPACE, KEY_DOWN, KEY_SPACE, KEY_DOWN,
                 KEY_DOWN, KEY_ENTER});
    EXPECT_EQ(main_screen(), 2);
    EXPECT_EQ(read_file(), original);
    struct stat after {};
    ASSERT_EQ(stat(CONFIG_FILE_NAME, &after), 0);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_ROWS(3, "{P:Exit without saving. Have a very nice day!" + blanks(38) + "}|",
                "{P:^" + blanks(80) + "}|");
}

TEST_F(MainScreen, SaveWithoutChangesStillWritesAndAddsTheSlashes) {
    Bytes loaded = record_bytes("c:/bbs", "", 0x01);
    loaded[0] = loaded[1] = 0;  // a foreign magic is taken as it is
    write_file(loaded);
    script_keys({KEY_UP, KEY_UP, KEY_ENTER});
    EXPECT_EQ(main_screen(), 1);
    EXPECT_EQ(read_file(), record_bytes("c:/bbs/", "/", 0x01));
}

// The fields show 50 characters of up to 79. Passing through a field keeps the
// whole stored text, bytes after its NUL included; an edit stores what the
// field shows.
TEST_F(MainScreen, LongDirectoriesAreCutOnlyByAnEdit) {
    const std::string main_dir = "c:/" + repeat("abcdefghij", 6) + "/";            // 64 characters
    const std::string editor_dir = "d:/" + repeat("0123456789", 6) + "12345678/";  // 72
    Bytes original = record_bytes(main_dir.c_str(), editor_dir.c_str(), 0x03);
    original[4 + 70] = 'M';  // left behind by an earlier, longer text
    original[84 + 75] = 'Q';
    write_file(original);
    script_keys({KEY_HOME, KEY_LEFT, KEY_END, KEY_DOWN, KEY_RIGHT, KEY_ESC, KEY_ENTER, KEY_DOWN,
                 KEY_DOWN, KEY_ENTER});
    EXPECT_EQ(main_screen(), 1);
    EXPECT_EQ(read_file(), original);

    reset_fake_terminal();
    config_record = {};
    script_keys({KEY_DOWN, KEY_BACKSPACE, KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_ENTER});
    EXPECT_EQ(main_screen(), 1);
    Bytes edited = original;
    edited[84 + 49] = '/';  // 49 characters as shown, then the slash the save adds
    edited[84 + 50] = '\0';
    EXPECT_EQ(read_file(), edited);
}

TEST_F(MainScreen, UnwritableFileEndsWithTheDiskErrorAndStatusZero) {
    fs::create_directory(CONFIG_FILE_NAME);  // cannot be opened for writing, even by root
    script_keys({KEY_UP, KEY_UP, KEY_ENTER});
    EXPECT_EXIT(
        {
            if (std::freopen("stdout.txt", "w", stdout) == nullptr) std::exit(99);
            main_screen();
        },
        ::testing::ExitedWithCode(0), "");
    std::ifstream out("stdout.txt");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(out), {}), "\nDisk error, cannot save quenda.cfg.");
    EXPECT_TRUE(fs::is_directory(CONFIG_FILE_NAME));
}

}  // namespace
