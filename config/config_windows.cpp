// Loading and saving "quenda.cfg" on Windows.
#include <windows.h>

#include <cstdio>

#include "config_internal.h"

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
// there is none.
HANDLE open_gate(const Name& name) {
    HANDLE gate = CreateFileW(name, GENERIC_WRITE, SHARE_ALL, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (gate == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND &&
        is_reparse_point(name)) {
        // A dangling link: create its target rather than replace the link.
        gate = CreateFileW(name, GENERIC_WRITE, SHARE_ALL, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (gate == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_NOT_FOUND) config_disk_error();
    return gate;
}

// Writes the record into a new file beside the old one, flushed to disk. On
// success temp names it; on failure nothing is left behind.
bool write_temporary(const unsigned char (&bytes)[CONFIG_SIZE], DWORD attributes, Name& temp) {
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; file == INVALID_HANDLE_VALUE && attempt < 100; ++attempt) {
        char narrow[NAME_MAX_CHARS];
        std::snprintf(narrow, sizeof narrow, ".%s.%lu-%d", CONFIG_FILE_NAME, GetCurrentProcessId(),
                      attempt);
        widen(narrow, temp);
        file = CreateFileW(temp, GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool written = write_all(file, bytes) && FlushFileBuffers(file);
    if (!CloseHandle(file) || !written) {
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

bool save_in_place(const Name& name, HANDLE gate, const unsigned char (&bytes)[CONFIG_SIZE]) {
    if (gate == INVALID_HANDLE_VALUE) {
        gate = CreateFileW(name, GENERIC_WRITE, SHARE_ALL, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (gate == INVALID_HANDLE_VALUE) return false;
    }
    const bool saved = write_in_place(gate, bytes);
    CloseHandle(gate);
    return saved;
}

// The gate is closed before the rename (Windows cannot replace an open file), so
// the in-place path opens the file again.
bool save_record(const Name& name, HANDLE gate) {
    BY_HANDLE_FILE_INFORMATION old{};
    if (gate != INVALID_HANDLE_VALUE && !is_regular_file(gate, old)) {
        CloseHandle(gate);
        config_disk_error();
    }
    const bool exists = gate != INVALID_HANDLE_VALUE;
    unsigned char bytes[CONFIG_SIZE];
    prepare_config_for_save(bytes);

    if (exists && (old.nNumberOfLinks > 1 || is_reparse_point(name)))
        return save_in_place(name, gate, bytes);
    // The new file looks like the old one: hidden stays hidden.
    const DWORD kept = old.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                               FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    Name temp;
    if (!write_temporary(bytes, kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL, temp)) {
        return exists && save_in_place(name, gate, bytes);
    }
    if (exists) CloseHandle(gate);
    if (MoveFileExW(temp, name, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    DeleteFileW(temp);
    // Held open by a program that does not share deletion: it can still be overwritten.
    return exists && save_in_place(name, INVALID_HANDLE_VALUE, bytes);
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
    if (!save_record(name, open_gate(name))) config_disk_error();
    SetConsoleCtrlHandler(nullptr, FALSE);
}
