// Runs one command in a fresh pseudo-terminal, feeds it keys one at a time and
// times each burst of output it sends back.
#pragma once

#include <chrono>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

// Cursor keys are symbolic because their bytes depend on the mode the program
// put the terminal in, as they do on a real xterm.
enum class Named { none, up, down, end };

struct Key {
    std::string bytes;  // sent as is when name is none
    Named name = Named::none;
    std::string category;
    // A reaction may start late (Esc waits for a possible sequence) but the
    // next key must not go out before it.
    int first_byte_timeout_ms = 2000;
};

struct SessionSpec {
    std::vector<std::string> argv;  // argv[0] is a path, not looked up in PATH
    std::vector<Key> keys;
    bool capture_fd3 = false;  // gives the command a pipe as fd 3 for its answer
    std::string collect_file;  // read from the working directory after exit
    int quiet_ms = 150;
    std::string term = "xterm-256color";
    int rows = 25;
    int cols = 80;
    bool keep_output = false;
    // Runs the command under this strace to count its write() calls to the
    // terminal; timings of such a run mean nothing.
    std::string strace;
};

struct Reaction {
    double latency_ms = kNone;  // key written -> last byte; none when nothing came
    std::size_t bytes = 0;
    double cpu_ms = kNone;  // the program's CPU from this key to the next one, or to its end
    int tty_writes = -1;    // write() calls to the terminal, under strace only
    std::string sent;       // what actually went to the terminal
    std::string output;     // only with keep_output
};

struct SessionResult {
    double frame_ms = kNone;  // fork -> last byte of the first frame
    std::size_t frame_bytes = 0;
    double frame_cpu_ms = kNone;  // the program's CPU up to the first frame, exec included
    int frame_tty_writes = -1;    // under strace only
    std::string frame_output;
    std::vector<Reaction> reactions;
    double exit_ms = kNone;  // last key written -> terminal closed by the child
    double cpu_ms = kNone;
    long peak_rss_kib = -1;
    int exit_status = -1;          // exit code, or 128 + signal
    bool app_cursor_keys = false;  // cursor keys went out as ESC O, as the program asked
    std::string failure;           // why the session could not be measured; empty when fine
    std::string fd3_output;
    std::optional<std::string> collected;
};

SessionResult run_session(const SessionSpec& plan);

}  // namespace bench
