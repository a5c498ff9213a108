#include "pty_session.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

namespace bench {
namespace {

constexpr int kFirstFrameTimeoutMs = 5000;
constexpr int kBurstCapMs = 10000;  // output that never goes quiet counts as a hang
constexpr int kExitTimeoutMs = 5000;

double ms_between(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

long read_vm_hwm_kib(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;  // gone, or a zombie
}

// The process's CPU so far, in ns resolution where the scheduler keeps
// statistics; exact while it sleeps, which is when it is read here.
double read_cpu_ms(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
    long long ns = -1;
    if (!(in >> ns) || ns < 0) return kNone;
    return static_cast<double>(ns) / 1e6;
}

struct Burst {
    std::size_t bytes = 0;
    Clock::time_point last{};
    bool closed = false;  // the child side of the terminal is gone
    Clock::time_point closed_at{};
    bool capped = false;  // still talking when the cap ran out
};

// Tracks DECCKM (ESC [ ? 1 h / l) across reads so cursor keys can be sent the
// way a real terminal would send them.
struct ModeWatch {
    std::string tail;
    bool app_cursor = false;

    void feed(const char* data, std::size_t n) {
        std::string window = tail;
        window.append(data, n);
        for (std::size_t pos = 0; (pos = window.find("\x1b[?1", pos)) != std::string::npos; ++pos) {
            if (pos + 5 > window.size()) break;
            char c = window[pos + 4];
            if (c == 'h') app_cursor = true;
            if (c == 'l') app_cursor = false;
        }
        tail = window.size() > 5 ? window.substr(window.size() - 5) : window;
    }
};

// Reads until output has been quiet for quiet_ms after its first byte, no first
// byte came within first_ms, or the child closed the terminal.
Burst collect(int fd, Clock::time_point from, int first_ms, int quiet_ms, ModeWatch& modes,
              std::string* keep) {
    Burst b;
    const auto first_deadline = from + std::chrono::milliseconds(first_ms);
    const auto cap = from + std::chrono::milliseconds(kBurstCapMs);
    const auto quiet = std::chrono::milliseconds(quiet_ms);
    char buf[65536];
    for (;;) {
        auto deadline = b.bytes ? b.last + quiet : first_deadline;
        if (cap < deadline) deadline = cap;
        auto now = Clock::now();
        if (now >= deadline) {
            b.capped = deadline == cap && b.bytes != 0;
            return b;
        }
        auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now);
        timespec ts{static_cast<time_t>(left.count() / 1000000000),
                    static_cast<long>(left.count() % 1000000000)};
        pollfd p{fd, POLLIN, 0};
        int n = ppoll(&p, 1, &ts, nullptr);
        if (n < 0 && errno != EINTR) {
            b.closed = true;
            b.closed_at = Clock::now();
            return b;
        }
        if (n <= 0) continue;
        ssize_t got = read(fd, buf, sizeof buf);
        if (got > 0) {
            b.last = Clock::now();
            b.bytes += static_cast<std::size_t>(got);
            modes.feed(buf, static_cast<std::size_t>(got));
            if (keep) keep->append(buf, static_cast<std::size_t>(got));
            continue;
        }
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        // EIO (or 0) on the master: every slave descriptor is closed.
        b.closed = true;
        b.closed_at = Clock::now();
        return b;
    }
}

bool write_all(int fd, const std::string& s) {
    std::size_t off = 0;
    while (off < s.size()) {
        ssize_t n = write(fd, s.data() + off, s.size() - off);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN) {
                pollfd p{fd, POLLOUT, 0};
                poll(&p, 1, 100);
                continue;
            }
            return false;
        }
        off += static_cast<std::size_t>(n);
    }
    return true;
}

std::string key_bytes(const Key& k, bool app_cursor) {
    const char* intro = app_cursor ? "\x1bO" : "\x1b[";
    switch (k.name) {
        case Named::up: return std::string(intro) + "A";
        case Named::down: return std::string(intro) + "B";
        case Named::end: return std::string(intro) + "F";
        case Named::none: break;
    }
    return k.bytes;
}

// Waits for the child, killing it when it outlives the timeout.
void reap(pid_t pid, int timeout_ms, SessionResult& r) {
    int status = 0;
    rusage ru{};
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    pid_t got = 0;
    while ((got = wait4(pid, &status, WNOHANG, &ru)) == 0 && Clock::now() < deadline) {
        usleep(1000);
    }
    if (got == 0) {
        kill(pid, SIGKILL);
        if (r.failure.empty()) r.failure = "did not exit; killed";
        got = wait4(pid, &status, 0, &ru);
    }
    if (got != pid) {
        if (r.failure.empty()) r.failure = std::string("wait4: ") + std::strerror(errno);
        return;
    }
    if (WIFEXITED(status)) r.exit_status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) r.exit_status = 128 + WTERMSIG(status);
    const long long us = (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1000000LL +
                         ru.ru_utime.tv_usec + ru.ru_stime.tv_usec;
    r.cpu_ms = static_cast<double>(us) / 1e3;
}

std::string drain(int fd) {
    std::string out;
    char buf[4096];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return out;
    }
}

// One system call from a log of strace -f -y: its name, the path of its first
// argument's descriptor and its result.
struct TracedCall {
    std::string name;
    std::string path;
    long long result = -1;
};

bool is_terminal(const std::string& path) {
    return path.rfind("/dev/pts/", 0) == 0 || path == "/dev/tty";
}

// Calls cut in two by another process's output ("<unfinished ...>" and
// "<... write resumed>") are joined again by pid.
std::vector<TracedCall> parse_strace(const std::string& log_path) {
    std::vector<TracedCall> calls;
    std::map<std::string, TracedCall> pending;
    std::ifstream in(log_path);
    for (std::string line; std::getline(in, line);) {
        const std::size_t space = line.find(' ');
        if (space == std::string::npos) continue;
        const std::string pid = line.substr(0, space);
        // strace pads the pid column: "812   write(...".
        const std::size_t call_start = line.find_first_not_of(' ', space);
        if (call_start == std::string::npos) continue;
        std::string rest = line.substr(call_start);
        TracedCall call;
        if (rest.rfind("<... ", 0) == 0) {
            auto it = pending.find(pid);
            if (it == pending.end()) continue;
            call = it->second;
            pending.erase(it);
        } else {
            const std::size_t paren = rest.find('(');
            if (paren == std::string::npos) continue;
            call.name = rest.substr(0, paren);
            const std::size_t open = rest.find('<', paren);
            const std::size_t close = rest.find(">,", paren);
            const std::size_t comma = rest.find(',', paren);
            if (open != std::string::npos && close != std::string::npos && open < comma)
                call.path = rest.substr(open + 1, close - open - 1);
            if (rest.size() >= 16 && rest.compare(rest.size() - 16, 16, "<unfinished ...>") == 0) {
                pending[pid] = call;
                continue;
            }
        }
        const std::size_t eq = rest.rfind(" = ");
        if (eq == std::string::npos) continue;
        call.result = std::strtoll(rest.c_str() + eq + 3, nullptr, 10);
        calls.push_back(std::move(call));
    }
    return calls;
}

// Attributes each write() to the terminal to the first frame or to the key
// whose bytes the program had begun to read.
void count_tty_writes(const std::string& log_path, SessionResult& r) {
    std::vector<std::size_t> key_start;
    std::size_t total = 0;
    for (const Reaction& re : r.reactions) {
        key_start.push_back(total);
        total += re.sent.size();
    }
    std::vector<int> writes(r.reactions.size() + 1, 0);
    std::size_t consumed = 0;
    std::size_t phase = 0;
    for (const TracedCall& c : parse_strace(log_path)) {
        if (!is_terminal(c.path)) continue;
        if (c.name == "read" && c.result > 0) {
            consumed += static_cast<std::size_t>(c.result);
            while (phase < key_start.size() && key_start[phase] < consumed) ++phase;
        } else if (c.name == "write" || c.name == "writev" || c.name == "pwrite64" ||
                   c.name == "pwritev" || c.name == "pwritev2" || c.name == "sendfile") {
            ++writes[phase];
        }
    }
    r.frame_tty_writes = writes[0];
    for (std::size_t i = 0; i < r.reactions.size(); ++i) r.reactions[i].tty_writes = writes[i + 1];
}

std::vector<char*> c_strings(std::vector<std::string>& v) {
    std::vector<char*> out;
    for (auto& s : v) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

}  // namespace

SessionResult run_session(const SessionSpec& plan) {
    SessionResult r;
    const char* tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/pty-bench-XXXXXX";
    if (!mkdtemp(tmpl.data())) {
        r.failure = std::string("mkdtemp: ") + std::strerror(errno);
        return r;
    }
    const std::string dir = tmpl;

    // A small fixed environment: no rc files from HOME, no LINES/COLUMNS or
    // ESCDELAY that would override the terminal or the programs' defaults.
    const char* path = std::getenv("PATH");
    std::vector<std::string> env = {"TERM=" + plan.term, "LANG=C.UTF-8", "HOME=" + dir,
                                    std::string("PATH=") + (path ? path : "/usr/bin:/bin")};
    std::vector<std::string> args = plan.argv;
    const std::string trace_log = dir + "/.pty-bench-strace.log";
    if (!plan.strace.empty()) {
        // Only the calls that move bytes; -y names each descriptor's file.
        std::vector<std::string> traced = {
            plan.strace, "-f",
            "-qq",       "-y",
            "-o",        trace_log,
            "-e",        "signal=none",
            "-e",        "trace=read,write,writev,pwrite64,pwritev,pwritev2,sendfile",
            "--"};
        args.insert(args.begin(), traced.begin(), traced.end());
    }
    auto envp = c_strings(env);
    auto argvp = c_strings(args);

    int answer[2] = {-1, -1};
    if (plan.capture_fd3 && pipe2(answer, O_CLOEXEC) != 0) {
        r.failure = std::string("pipe2: ") + std::strerror(errno);
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
        return r;
    }

    winsize ws{};
    ws.ws_row = static_cast<unsigned short>(plan.rows);
    ws.ws_col = static_cast<unsigned short>(plan.cols);
    int master = -1;
    const auto t0 = Clock::now();
    pid_t pid = forkpty(&master, nullptr, nullptr, &ws);
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(126);
        if (answer[1] >= 0) {
            // dup2 onto itself would keep close-on-exec.
            if (answer[1] == 3)
                fcntl(3, F_SETFD, 0);
            else
                dup2(answer[1], 3);
        }
        execve(argvp[0], argvp.data(), envp.data());
        const char msg[] = "pty_bench: exec failed\r\n";
        [[maybe_unused]] auto ignored = write(2, msg, sizeof msg - 1);
        _exit(127);
    }
    if (answer[1] >= 0) close(answer[1]);
    if (pid < 0) {
        r.failure = std::string("forkpty: ") + std::strerror(errno);
        if (answer[0] >= 0) close(answer[0]);
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
        return r;
    }
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

    ModeWatch modes;
    auto sample_rss = [&] {
        long kib = read_vm_hwm_kib(pid);
        if (kib > r.peak_rss_kib) r.peak_rss_kib = kib;
    };

    bool closed = false;
    Burst frame = collect(master, t0, kFirstFrameTimeoutMs, plan.quiet_ms, modes, &r.frame_output);
    closed = frame.closed;
    if (frame.bytes == 0) {
        r.failure = closed ? "exited without drawing" : "no first frame";
    } else if (frame.capped) {
        r.failure = "first frame never went quiet";
    } else {
        r.frame_ms = ms_between(t0, frame.last);
        r.frame_bytes = frame.bytes;
        if (closed) r.failure = "exited before any key";
    }
    if (r.failure.empty()) sample_rss();
    // CPU at each key's write; the next mark (or the total at exit) closes it.
    std::vector<double> cpu_marks;
    if (r.failure.empty()) r.frame_cpu_ms = read_cpu_ms(pid);

    Clock::time_point last_key_at{};
    for (std::size_t i = 0; r.failure.empty() && i < plan.keys.size(); ++i) {
        const Key& key = plan.keys[i];
        Reaction re;
        re.sent = key_bytes(key, modes.app_cursor);
        if (key.name != Named::none && modes.app_cursor) r.app_cursor_keys = true;
        cpu_marks.push_back(read_cpu_ms(pid));
        last_key_at = Clock::now();
        if (!write_all(master, re.sent)) {
            r.failure = "could not write key " + std::to_string(i + 1);
            break;
        }
        Burst b = collect(master, last_key_at, key.first_byte_timeout_ms, plan.quiet_ms, modes,
                          plan.keep_output ? &re.output : nullptr);
        re.bytes = b.bytes;
        if (b.bytes) re.latency_ms = ms_between(last_key_at, b.last);
        closed = b.closed;
        if (b.capped) r.failure = "output after key " + std::to_string(i + 1) + " never went quiet";
        if (closed) {
            r.exit_ms = ms_between(last_key_at, b.closed_at);
            if (i + 1 != plan.keys.size()) r.failure = "exited after key " + std::to_string(i + 1);
        } else {
            sample_rss();
        }
        r.reactions.push_back(std::move(re));
    }

    // The last key should end the program; its late output still belongs to it.
    if (r.failure.empty() && !closed) {
        Burst tail = collect(
            master, Clock::now(), kExitTimeoutMs, kExitTimeoutMs, modes,
            plan.keep_output && !r.reactions.empty() ? &r.reactions.back().output : nullptr);
        closed = tail.closed;
        if (closed) {
            r.exit_ms = ms_between(last_key_at, tail.closed_at);
            if (tail.bytes && !r.reactions.empty()) {
                r.reactions.back().bytes += tail.bytes;
                r.reactions.back().latency_ms = ms_between(last_key_at, tail.last);
            }
        } else {
            r.failure = "still running after the last key";
        }
    }

    // A child that closed the terminal is on its way out; one that did not is hung.
    reap(pid, closed ? kExitTimeoutMs : 0, r);
    close(master);
    cpu_marks.push_back(r.cpu_ms);
    for (std::size_t i = 0; i < r.reactions.size() && i + 1 < cpu_marks.size(); ++i)
        r.reactions[i].cpu_ms = cpu_marks[i + 1] - cpu_marks[i];
    if (!plan.strace.empty()) {
        count_tty_writes(trace_log, r);
        std::remove(trace_log.c_str());
    }

    if (answer[0] >= 0) {
        r.fd3_output = drain(answer[0]);
        close(answer[0]);
    }
    if (!plan.collect_file.empty()) {
        std::ifstream in(dir + "/" + plan.collect_file, std::ios::binary);
        if (in) r.collected = std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return r;
}

}  // namespace bench
