// Loading and saving "quenda.cfg" on Windows.
#include "config_windows.h"

#include <windows.h>

#include <cstdio>

#include "config_internal.h"

bool may_write_in_place(SaveStep step, DWORD error) {
    switch (step) {
        case SaveStep::create_temporary:
            // No new file can be made here: a directory the operator may not
            // create files in, a write-protected medium, no room for one more.
            return error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT ||
                   error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
        // No room for a second copy; the old one's blocks can still be written.
        case SaveStep::write_temporary:
            return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
        // A failed flush may have lost anything: the old file is the copy to keep.
        case SaveStep::flush_temporary: return false;
        case SaveStep::replace:
            // Another program holds the file open: it can still be written.
            return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
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
// decides whether the operator may write it at all. INVALID_HANDLE_VALUE when
// there is none; created says whether this open made the file.
HANDLE open_gate(const Name& name, bool& created) {
    created = false;
    HANDLE gate = CreateFileW(name, GENERIC_WRITE, SHARE_ALL, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (gate == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND &&
        is_reparse_point(name)) {
        // A dangling link: create its target rather than replace the link, able
        // to delete it again should the save fail. A target that cannot be
        // created is a file we cannot write, not a missing one.
        gate = CreateFileW(name, GENERIC_WRITE | DELETE, SHARE_ALL, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (gate == INVALID_HANDLE_VALUE) config_disk_error();
        created = GetLastError() != ERROR_ALREADY_EXISTS;
    }
    if (gate == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_NOT_FOUND) config_disk_error();
    return gate;
}

// A new file beside the old one, or INVALID_HANDLE_VALUE with the reason left
// in GetLastError.
HANDLE create_temporary(DWORD attributes, Name& temp) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        char narrow[NAME_MAX_CHARS];
        std::snprintf(narrow, sizeof narrow, ".%s.%lu-%d", CONFIG_FILE_NAME, GetCurrentProcessId(),
                      attempt);
        widen(narrow, temp);
        HANDLE file = CreateFileW(temp, GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
    }
    return INVALID_HANDLE_VALUE;
}

// Writes the record into a new file beside the old one, flushed to disk, and
// moves it over the old one, so a reader sees the old record or the new one,
// never a mix. On failure the new file is gone again, and failed and error say
// where and why the save stopped.
bool replace_through_temporary(const Name& name, const unsigned char (&bytes)[CONFIG_SIZE],
                               DWORD attributes, SaveStep& failed, DWORD& error) {
    Name temp;
    HANDLE file = create_temporary(attributes, temp);
    if (file == INVALID_HANDLE_VALUE) {
        failed = SaveStep::create_temporary;
        error = GetLastError();
        return false;
    }
    failed = SaveStep::write_temporary;
    bool done = write_all(file, bytes);
    if (done) {
        failed = SaveStep::flush_temporary;
        done = FlushFileBuffers(file);
    }
    error = GetLastError();
    if (!CloseHandle(file) && done) {
        error = GetLastError();
        done = false;
    }
    if (!done) {
        DeleteFileW(temp);
        return false;
    }
    if (!MoveFileExW(temp, name, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        failed = SaveStep::replace;
        error = GetLastError();
        DeleteFileW(temp);
        return false;
    }
    return true;
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
        FILE_DISPOSITION_INFO gone{TRUE};
        SetFileInformationByHandle(file, FileDispositionInfo, &gone, sizeof gone);
    }
    CloseHandle(file);
    return saved;
}

// The gate is closed before the move (Windows cannot replace an open file), so
// a save that falls back to the in-place write opens the file again.
bool save_record(const Name& name, HANDLE gate, bool created) {
    BY_HANDLE_FILE_INFORMATION old{};
    if (gate != INVALID_HANDLE_VALUE && !is_regular_file(gate, old)) {
        CloseHandle(gate);
        config_disk_error();
    }
    const bool exists = gate != INVALID_HANDLE_VALUE;
    unsigned char bytes[CONFIG_SIZE];
    prepare_config_for_save(bytes);

    // A target just created for a dangling link is written through the link.
    if (exists && (created || old.nNumberOfLinks > 1 || is_reparse_point(name)))
        return save_in_place(gate, bytes, created);
    if (exists) CloseHandle(gate);
    // The new file looks like the old one: hidden stays hidden.
    const DWORD kept = old.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                               FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    SaveStep failed = SaveStep::create_temporary;
    DWORD error = ERROR_SUCCESS;
    if (replace_through_temporary(name, bytes, kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL, failed,
                                  error))
        return true;
    if (!exists || !may_write_in_place(failed, error)) return false;
    HANDLE file = CreateFileW(name, GENERIC_WRITE, SHARE_ALL, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    return file != INVALID_HANDLE_VALUE && save_in_place(file, bytes, false);
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
    // Ctrl+C must not end a half-done save or leave a temporary file behind.
    SetConsoleCtrlHandler(nullptr, TRUE);
    Name name;
    widen(CONFIG_FILE_NAME, name);
    bool created = false;
    HANDLE gate = open_gate(name, created);
    if (!save_record(name, gate, created)) config_disk_error();
    SetConsoleCtrlHandler(nullptr, FALSE);
}
