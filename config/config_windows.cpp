// Loading and saving "quenda.cfg" on Windows.
#include "config_windows.h"

#include <windows.h>

#include <cstdio>

#include "config_internal.h"

bool may_write_in_place(SaveStep step, DWORD error) {
    switch (step) {
        case SaveStep::create:
            // No new file can be made here: a directory the operator may not
            // create files in, a write-protected medium, no room for one more.
            return error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT ||
                   error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
        // The new file is made with the old one's attributes, and ReplaceFileW
        // brings the rest over as part of the replace: no step of its own.
        case SaveStep::copy_metadata: return false;
        // No room for a second copy; the old one's blocks can still be written.
        case SaveStep::write: return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
        // A failed flush may have lost anything: the old file is the copy to keep.
        case SaveStep::flush: return false;
        case SaveStep::replace:
            // Another program holds the file open, or the directory lets no file
            // be removed, or the access list cannot go to a new file: the old
            // file can still be written.
            return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
                   error == ERROR_UNABLE_TO_REMOVE_REPLACED;
    }
    return false;
}

namespace {

constexpr int NAME_MAX_CHARS = 64;
using Name = wchar_t[NAME_MAX_CHARS];

// Our names are plain ASCII, so widening is a copy.
void widen(const char* text, Name& out) {
    int i = 0;
    for (; text[i] != '\0' && i < NAME_MAX_CHARS - 1; ++i) out[i] = static_cast<wchar_t>(text[i]);
    out[i] = L'\0';
}

constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool write_all(HANDLE file, const unsigned char (&bytes)[CONFIG_SIZE]) {
    DWORD done = 0;
    while (done < CONFIG_SIZE) {
        DWORD n = 0;
        if (!WriteFile(file, bytes + done, static_cast<DWORD>(CONFIG_SIZE) - done, &n, nullptr) ||
            n == 0) {
            return false;
        }
        done += n;
    }
    return true;
}

bool is_reparse_point(const Name& name) {
    const DWORD attributes = GetFileAttributesW(name);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Only a file on disk holds settings: a directory or device of that name does not.
bool is_regular_file(HANDLE file, BY_HANDLE_FILE_INFORMATION& info) {
    return GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Opens the existing file for writing without changing it: the one check that
// decides whether the operator may write it at all. False when that is
// refused; gate stays INVALID_HANDLE_VALUE when there is no file, and created
// says whether this open made one.
bool open_gate(const Name& name, HANDLE& gate, bool& created) {
    created = false;
    gate = CreateFileW(name, GENERIC_WRITE, SHARE_ALL, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (gate == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND &&
        is_reparse_point(name)) {
        // A dangling link: create its target rather than replace the link, able
        // to delete it again should the save fail. A target that cannot be
        // created is a file we cannot write, not a missing one.
        gate = CreateFileW(name, GENERIC_WRITE | DELETE, SHARE_ALL, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (gate == INVALID_HANDLE_VALUE) return false;
        created = GetLastError() != ERROR_ALREADY_EXISTS;
    }
    return gate != INVALID_HANDLE_VALUE || GetLastError() == ERROR_FILE_NOT_FOUND;
}

// Marks a file we made for deletion through its handle, and closes it: this
// works where the directory lets no one remove a file by name.
void discard(HANDLE file) {
    FILE_DISPOSITION_INFO gone{TRUE};
    SetFileInformationByHandle(file, FileDispositionInfo, &gone, sizeof gone);
    CloseHandle(file);
}

// A new file beside the old one, with delete access from the start, or
// INVALID_HANDLE_VALUE with the reason left in GetLastError.
HANDLE create_temporary(DWORD attributes, Name& temp) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        char narrow[NAME_MAX_CHARS];
        std::snprintf(narrow, sizeof narrow, ".%s.%lu-%d", CONFIG_FILE_NAME, GetCurrentProcessId(),
                      attempt);
        widen(narrow, temp);
        HANDLE file = CreateFileW(temp, GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, nullptr,
                                  CREATE_NEW, attributes, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
    }
    return INVALID_HANDLE_VALUE;
}

// Whether a file can be opened by name to be deleted, as ReplaceFileW opens
// both. The old file may be held open by another program or kept by its
// access list; a directory may let us make a new file and not remove one, and
// then only the handle it was made with can. Asked of the old file before a
// new one is named, so a save that writes in place leaves none.
bool may_delete(const Name& name) {
    HANDLE probe = CreateFileW(name, DELETE, SHARE_ALL, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return false;
    CloseHandle(probe);
    return true;
}

struct Failure {
    SaveStep step;
    DWORD error;
};

// Where and why the save through a new file stopped; false, to return.
bool stop(Failure& failure, SaveStep step) {
    failure = {step, GetLastError()};
    return false;
}

// Writes the record into a new file beside the old one, flushes it and closes
// it, ready to be moved. On failure it is gone again.
bool write_temporary(const unsigned char (&bytes)[CONFIG_SIZE], DWORD attributes, Name& temp,
                     Failure& failure) {
    HANDLE file = create_temporary(attributes, temp);
    if (file == INVALID_HANDLE_VALUE) return stop(failure, SaveStep::create);
    const bool done = (write_all(file, bytes) || stop(failure, SaveStep::write)) &&
                      (FlushFileBuffers(file) || stop(failure, SaveStep::flush)) &&
                      (may_delete(temp) || stop(failure, SaveStep::replace));
    if (!done) {
        discard(file);
        return false;
    }
    CloseHandle(file);
    return true;
}

// Puts a new file with the record in the old one's place, so a reader sees
// the old record or the new one, never a mix. ReplaceFileW keeps the old
// file's access list, streams and attributes; where there is no old file, the
// name is taken only while it is still free. On failure the new file is gone
// unless the old one has already left its name.
bool replace_through_temporary(const Name& name, bool exists,
                               const unsigned char (&bytes)[CONFIG_SIZE], DWORD attributes,
                               Failure& failure) {
    Name temp;
    if (!write_temporary(bytes, attributes, temp, failure)) return false;
    if (exists ? ReplaceFileW(name, temp, nullptr, 0, nullptr, nullptr)
               : MoveFileExW(temp, name, MOVEFILE_WRITE_THROUGH))
        return true;
    stop(failure, SaveStep::replace);
    // These say the old file has left its name already: the new one takes
    // it, and where even that fails it stays, as the one copy left.
    if (failure.error == ERROR_UNABLE_TO_MOVE_REPLACEMENT ||
        failure.error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)
        return MoveFileExW(temp, name, MOVEFILE_WRITE_THROUGH) != 0;
    DeleteFileW(temp);
    return false;
}

// Overwrites the open file: keeps a link a link and works where the file cannot
// be replaced. The old bytes stay until the new ones are written over them.
bool write_in_place(HANDLE file, const unsigned char (&bytes)[CONFIG_SIZE]) {
    LARGE_INTEGER start{};
    return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) && write_all(file, bytes) &&
           SetEndOfFile(file) && FlushFileBuffers(file);
}

// Writes in place and closes the file. A file the gate created is deleted
// again when that fails, so a dangling link stays dangling.
bool save_in_place(HANDLE file, const unsigned char (&bytes)[CONFIG_SIZE], bool created) {
    const bool saved = write_in_place(file, bytes);
    if (!saved && created) {
        discard(file);
    } else {
        CloseHandle(file);
    }
    return saved;
}

// The save in the order of the README's rule; false is the disk error. The
// gate is closed before the move (Windows cannot replace an open file), so a
// save that falls back to the in-place write opens the file again.
bool save_record(const Name& name, const unsigned char (&bytes)[CONFIG_SIZE]) {
    HANDLE gate = INVALID_HANDLE_VALUE;
    bool created = false;
    if (!open_gate(name, gate, created)) return false;
    Failure failure{};
    if (gate == INVALID_HANDLE_VALUE)
        return replace_through_temporary(name, false, bytes, FILE_ATTRIBUTE_NORMAL, failure);
    // Read-only is the owner's word, also where the open went through (root
    // under Wine, whose read-only is only the missing write permission).
    BY_HANDLE_FILE_INFORMATION old{};
    if (!is_regular_file(gate, old) || (old.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        CloseHandle(gate);
        return false;
    }
    // A target just created for a dangling link is written through the link.
    if (created || old.nNumberOfLinks > 1 || is_reparse_point(name))
        return save_in_place(gate, bytes, created);
    CloseHandle(gate);
    // The new file looks like the old one from the start: hidden stays hidden.
    const DWORD kept = old.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                               FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    if (!may_delete(name)) {
        stop(failure, SaveStep::replace);
    } else if (replace_through_temporary(name, true, bytes,
                                         kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL, failure)) {
        return true;
    }
    if (!may_write_in_place(failure.step, failure.error)) return false;
    // Opened by name again: only the very file the gate checked is written.
    HANDLE file = CreateFileW(name, GENERIC_WRITE, SHARE_ALL, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    BY_HANDLE_FILE_INFORMATION now{};
    if (file == INVALID_HANDLE_VALUE) return false;
    if (!GetFileInformationByHandle(file, &now) ||
        now.dwVolumeSerialNumber != old.dwVolumeSerialNumber ||
        now.nFileIndexHigh != old.nFileIndexHigh || now.nFileIndexLow != old.nFileIndexLow) {
        CloseHandle(file);
        return false;
    }
    return save_in_place(file, bytes, false);
}

// Set once a save is over. A console handler routine takes no argument, so
// this is the one value the save shares with it.
HANDLE save_over = nullptr;

// Ctrl+C and Ctrl+Break stay held to the end: the save is the program's last
// act, and the exit status must say whether the file was written, as on
// Linux. Closing the window, log-off and shutdown end the process as soon as
// a handler returns, so this one returns only once the save is over, and the
// console's own handler then ends the process as the event would have.
BOOL WINAPI hold_during_save(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
    WaitForSingleObject(save_over, INFINITE);
    return FALSE;
}

}  // namespace

void load_config() {
    Name name;
    widen(CONFIG_FILE_NAME, name);
    HANDLE file = CreateFileW(name, GENERIC_READ, SHARE_ALL, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    if (file == INVALID_HANDLE_VALUE || !is_regular_file(file, info)) {
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        use_default_config();
        return;
    }
    unsigned char bytes[CONFIG_SIZE];
    DWORD got = 0;
    while (got < CONFIG_SIZE) {
        DWORD n = 0;
        if (!ReadFile(file, bytes + got, static_cast<DWORD>(CONFIG_SIZE) - got, &n, nullptr) ||
            n == 0)
            break;
        got += n;
    }
    CloseHandle(file);
    take_loaded_bytes(bytes, got);
}

void save_config() {
    unsigned char bytes[CONFIG_SIZE];
    prepare_config_for_save(bytes);
    // Named through the directory: Wine's ReplaceFileW makes a file of its own
    // beside the old one and finds no directory in a bare name.
    char narrow[NAME_MAX_CHARS];
    std::snprintf(narrow, sizeof narrow, ".\\%s", CONFIG_FILE_NAME);
    Name name;
    widen(narrow, name);
    // No console event may end a half-done save or leave a new file behind.
    if (save_over == nullptr) {
        save_over = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        SetConsoleCtrlHandler(hold_during_save, TRUE);
    }
    ResetEvent(save_over);
    const bool saved = save_record(name, bytes);
    // Now, before the disk error gives the console back: SetConsoleCtrlHandler
    // there would wait for a handler still waiting here.
    SetEvent(save_over);
    if (!saved) config_disk_error();
}
