// Benchmarks quenda-setup against dialog, whiptail and a no-frills floor, each
// driven through a real pseudo-terminal the way a person at a keyboard would.
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "pty_session.h"
#include "report.h"

namespace fs = std::filesystem;
using namespace bench;

namespace {

const char kUsage[] =
    "usage: pty_bench [options]\n"
    "  --program PATH      quenda-setup to measure (quenda-* subjects are skipped without one)\n"
    "  --floor PATH        the bench_floor program (default: next to pty_bench)\n"
    "  --runs N            measured runs per subject, interleaved (default 40)\n"
    "  --warmup N          unmeasured rounds first (default 1)\n"
    "  --quiet-ms N        silence that ends a frame or a reaction (default 150)\n"
    "  --trace-runs N      extra runs per subject under strace, counting write() calls\n"
    "                      to the terminal (default 3; 0 skips them)\n"
    "  --only A,B          subjects whose name starts with one of these\n"
    "  --write-results     write the tables, date and machine as the results file\n"
    "  --results-file PATH where --write-results writes (default bench/RESULTS.md)\n"
    "  --note TEXT         a line added to the written results (e.g. the commit)\n"
    "  --dump DIR          keep the raw output of each subject's last run in DIR\n"
    "  --list              print the subjects and exit\n"
    "  --verbose           one line per run on stderr\n"
    "Exits 1 when a run of quenda-setup or the floor goes wrong, 2 on bad usage.\n";

struct Options {
    std::string program;
    std::string floor;
    int runs = 40;
    int warmup = 1;
    int quiet_ms = 150;
    int trace_runs = 3;
    std::vector<std::string> only;
    bool write_results = false;
    std::string results_file;
    std::string note;
    std::string dump;
    bool list = false;
    bool verbose = false;
};

struct Subject {
    std::string name;
    std::string about;
    SessionSpec plan;
    bool ours = false;  // a wrong result here fails the benchmark
    std::function<std::string(const SessionResult&)> check;  // empty when right
};

// Key builders; categories name what a reaction is pooled with.
Key raw(std::string bytes, std::string category, int first_ms = 2000) {
    Key k;
    k.bytes = std::move(bytes);
    k.category = std::move(category);
    k.first_byte_timeout_ms = first_ms;
    return k;
}

Key named(Named n, std::string category, int first_ms = 2000) {
    Key k;
    k.name = n;
    k.category = std::move(category);
    k.first_byte_timeout_ms = first_ms;
    return k;
}

// End with the cursor already at the end may rightly draw nothing; no need to wait long.
constexpr int kMaybeSilentMs = 500;

void type_text(std::vector<Key>& keys, const std::string& text, const std::string& category) {
    for (char c : text) keys.push_back(raw(std::string(1, c), category));
}

void repeat(std::vector<Key>& keys, int n, const Key& k) {
    for (int i = 0; i < n; ++i) keys.push_back(k);
}

// Esc alone: programs wait to see whether a sequence follows, for up to a second or so.
constexpr int kEscWaitMs = 5000;

const char kTyped[] = "typed char at end of field";
const char kBackspace[] = "Backspace at end of field";
const char kToggle[] = "Space: toggle check box";
const char kFocus[] = "Down: focus move";
const char kSaveKey[] = "Enter on Save and exit";
const char kQuitKey[] = "Enter on Exit without saving";

std::string expected_cfg() {
    auto field = [](std::string s) {
        s.resize(80, '\0');
        return s;
    };
    std::string cfg("\x89\x63\x00\x00", 4);
    cfg += field("c:/bbs/games/");
    cfg += field("d:/bbs/quenda/");
    cfg += std::string(1, '\0');
    return cfg;
}

std::string hex_byte(unsigned char c) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", c);
    return buf;
}

std::string quoted(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '\n')
            out += "\\n";
        else if (c < 0x20 || c >= 0x7f)
            out += "\\x" + hex_byte(c).substr(2);
        else
            out += static_cast<char>(c);
    }
    return out + "\"";
}

std::string check_status(const SessionResult& r, int want) {
    if (r.exit_status != want)
        return "exit status " + std::to_string(r.exit_status) + ", want " + std::to_string(want);
    return "";
}

std::string check_answer(const SessionResult& r, int status, const std::string& want) {
    std::string why = check_status(r, status);
    if (!why.empty()) return why;
    if (r.fd3_output != want) return "answer " + quoted(r.fd3_output) + ", want " + quoted(want);
    return "";
}

// Guards against timing some other screen, such as an error message.
std::string check_first_field(const SessionResult& r) {
    if (r.frame_output.find("c:/bbs/main/") == std::string::npos)
        return "first frame does not show c:/bbs/main/";
    return "";
}

std::string check_cfg(const SessionResult& r) {
    std::string why = check_first_field(r);
    if (!why.empty()) return why;
    why = check_status(r, 1);
    if (!why.empty()) return why;
    if (!r.collected) return "no quenda.cfg written";
    const std::string want = expected_cfg();
    const std::string& got = *r.collected;
    for (std::size_t i = 0; i < want.size() && i < got.size(); ++i) {
        if (got[i] != want[i]) {
            return "quenda.cfg differs at offset " + std::to_string(i) + ": " +
                   hex_byte(static_cast<unsigned char>(got[i])) + ", want " +
                   hex_byte(static_cast<unsigned char>(want[i]));
        }
    }
    if (got.size() != want.size())
        return "quenda.cfg is " + std::to_string(got.size()) + " bytes, want " +
               std::to_string(want.size());
    return "";
}

std::string find_in_path(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        fs::path p = fs::path(dir.empty() ? "." : dir) / name;
        if (access(p.c_str(), X_OK) == 0) return p.string();
    }
    return "";
}

std::vector<Subject> make_subjects(const Options& o, std::vector<std::string>& notes) {
    std::vector<Subject> all;
    auto base = [&](std::vector<std::string> argv) {
        SessionSpec s;
        s.argv = std::move(argv);
        s.quiet_ms = o.quiet_ms;
        s.keep_output = !o.dump.empty();
        return s;
    };
    // dialog and whiptail each also get a lone Esc in their text box, which
    // exits, and a checklist of the two options: Space, Down, Space, Enter.
    auto add_esc = [&](std::string name, std::string about, std::vector<std::string> argv) {
        Subject e{std::move(name), std::move(about), base(std::move(argv)), false,
                  [](const SessionResult& r) { return check_status(r, 255); }};
        e.plan.capture_fd3 = true;
        e.plan.keys = {raw("\x1b", "Esc in text field (exits)", kEscWaitMs)};
        all.push_back(std::move(e));
    };
    auto add_checklist = [&](const std::string& tool, const std::string& name, const char* on,
                             const char* off, std::string answer) {
        Subject c{name + "-checklist",
                  name + " --checklist with Backup when save (" + on + ") and Create logfile (" +
                      off + "); Space, Down, Space, Enter.",
                  base({tool, "--output-fd", "3", "--checklist", "Options", "10", "50", "2",
                        "backup", "Backup when save", on, "logfile", "Create logfile", off}),
                  false, [answer = std::move(answer)](const SessionResult& r) {
                      return check_answer(r, 0, answer);
                  }};
        c.plan.capture_fd3 = true;
        c.plan.keys = {raw(" ", kToggle), named(Named::down, kFocus), raw(" ", kToggle),
                       raw("\r", "Enter: OK and exit")};
        all.push_back(std::move(c));
    };

    if (!o.program.empty()) {
        // The typical typing session, up to the button that ends it.
        auto type_and_choose = [](std::vector<Key>& k) {
            k.push_back(raw("\x7f", "Backspace, first key"));
            repeat(k, 4, raw("\x7f", kBackspace));
            type_text(k, "games", kTyped);
            k.push_back(raw("\r", "Enter: field to next field"));
            k.push_back(named(Named::down, kFocus));
            k.push_back(raw(" ", kToggle));
            repeat(k, 2, named(Named::down, kFocus));
        };
        Subject save{"quenda-save",
                     "quenda-setup, no quenda.cfg at start; Backspace ×5, type \"games\", Enter, "
                     "Down, Space, Down, Down, Enter on Save and exit; quenda.cfg must be the "
                     "expected 165 bytes, exit status 1.",
                     base({o.program}), true, check_cfg};
        type_and_choose(save.plan.keys);
        save.plan.keys.push_back(raw("\r", kSaveKey));
        save.plan.collect_file = "quenda.cfg";
        all.push_back(std::move(save));

        Subject nosave{"quenda-nosave",
                       "the same typing session as quenda-save, then Down and Enter on Exit "
                       "without saving; exit status 2, no quenda.cfg.",
                       base({o.program}), true, [](const SessionResult& r) {
                           std::string why = check_first_field(r);
                           if (why.empty()) why = check_status(r, 2);
                           if (why.empty() && r.collected) why = "quenda.cfg written";
                           return why;
                       }};
        type_and_choose(nosave.plan.keys);
        nosave.plan.keys.push_back(named(Named::down, kFocus));
        nosave.plan.keys.push_back(raw("\r", kQuitKey));
        nosave.plan.collect_file = "quenda.cfg";
        all.push_back(std::move(nosave));

        Subject esc{"quenda-esc",
                    "quenda-setup, a lone Esc in the first field (it repaints the field and "
                    "keeps focus), then Up to Exit without saving, Enter; exit status 2, no "
                    "quenda.cfg.",
                    base({o.program}), true, [](const SessionResult& r) {
                        std::string why = check_first_field(r);
                        if (why.empty()) why = check_status(r, 2);
                        if (why.empty() && r.collected) why = "quenda.cfg written";
                        return why;
                    }};
        esc.plan.keys = {raw("\x1b", "Esc in text field", kEscWaitMs),
                         named(Named::up, "Up: focus move"), raw("\r", kQuitKey)};
        esc.plan.collect_file = "quenda.cfg";
        all.push_back(std::move(esc));

        // tmux-256color has no back-colour-erase: ncurses clears there by
        // writing blanks, so the first frame's bytes are its own figure.
        Subject tmux{"quenda-tmux",
                     "quenda-setup under TERM=tmux-256color (no back-colour-erase), Up to Exit "
                     "without saving, Enter; exit status 2. For the first frame's bytes.",
                     base({o.program}), true,
                     [](const SessionResult& r) { return check_status(r, 2); }};
        tmux.plan.term = "tmux-256color";
        tmux.plan.keys = {named(Named::up, "Up: focus move"), raw("\r", kQuitKey)};
        all.push_back(std::move(tmux));
    } else {
        notes.push_back("no --program given: quenda-setup subjects skipped");
    }

    if (!o.floor.empty() && access(o.floor.c_str(), X_OK) == 0) {
        Subject floor{"floor",
                      "bench_floor: the same 80x25 frame in one write with the fewest escape "
                      "sequences, one byte of echo per typed char; type \"games\", Enter.",
                      base({o.floor}), true,
                      [](const SessionResult& r) { return check_status(r, 0); }};
        type_text(floor.plan.keys, "games", kTyped);
        floor.plan.keys.push_back(raw("\r", "Enter: exit"));
        // The place right after the floor has been seen to measure slow: the
        // floor takes it again, so no subject compared with the floor pays for
        // it, and the two show how far runs of one program differ.
        Subject control = floor;
        control.name = "control";
        control.about =
            "bench_floor again, in the place right after the floor; its figures against the "
            "floor's show how far two runs of one program differ.";
        all.push_back(std::move(floor));
        all.push_back(std::move(control));
    } else {
        notes.push_back("floor program not found (" + o.floor + "): floor skipped");
    }

    const std::string curses_floor =
        (fs::path(o.floor).parent_path() / "bench_floor_ncurses").string();
    if (access(curses_floor.c_str(), X_OK) == 0) {
        Subject floor{"floor-ncurses",
                      "bench_floor_ncurses: the floor's screen through ncurses in the plainest "
                      "way (initscr, two colour pairs, refresh), one refresh per typed char; type "
                      "\"games\", Enter. What loading and setting up ncurses cost by themselves.",
                      base({curses_floor}), true,
                      [](const SessionResult& r) { return check_status(r, 0); }};
        type_text(floor.plan.keys, "games", kTyped);
        floor.plan.keys.push_back(raw("\r", "Enter: exit"));
        all.push_back(std::move(floor));
    } else {
        notes.push_back("bench_floor_ncurses not found beside the floor: floor-ncurses skipped");
    }

    const std::string dialog = find_in_path("dialog");
    if (!dialog.empty()) {
        std::vector<std::string> form = {dialog,
                                         "--output-fd",
                                         "3",
                                         "--form",
                                         "Directories",
                                         "10",
                                         "72",
                                         "2",
                                         "Main directory:",
                                         "1",
                                         "1",
                                         "c:/bbs/main/",
                                         "1",
                                         "19",
                                         "50",
                                         "80",
                                         "Editor directory:",
                                         "2",
                                         "1",
                                         "d:/bbs/quenda/",
                                         "2",
                                         "19",
                                         "50",
                                         "80"};
        Subject f{"dialog-form",
                  "dialog --form, two 50-wide fields holding \"c:/bbs/main/\" and "
                  "\"d:/bbs/quenda/\"; End, Backspace ×3, type \"games\", Enter.",
                  base(form), false, [](const SessionResult& r) {
                      return check_answer(r, 0, "c:/bbs/magames\nd:/bbs/quenda/\n");
                  }};
        f.plan.capture_fd3 = true;
        f.plan.keys.push_back(named(Named::end, "End", kMaybeSilentMs));
        repeat(f.plan.keys, 3, raw("\x7f", kBackspace));
        type_text(f.plan.keys, "games", kTyped);
        f.plan.keys.push_back(raw("\r", "Enter: OK and exit"));
        all.push_back(std::move(f));

        add_esc("dialog-esc",
                "the same dialog --form; a lone Esc, which dialog acts on by exiting.", form);
        add_checklist(dialog, "dialog", "on", "off", "logfile");
    } else {
        notes.push_back("dialog not installed (bench/setup.sh installs it): dialog skipped");
    }

    const std::string whiptail = find_in_path("whiptail");
    if (!whiptail.empty()) {
        std::vector<std::string> input = {whiptail,         "--output-fd", "3",  "--inputbox",
                                          "Main directory", "8",           "60", "c:/bbs/main/"};
        Subject i{"whiptail-input",
                  "whiptail --inputbox holding \"c:/bbs/main/\"; End, Backspace ×3, type "
                  "\"games\", Enter.",
                  base(input), false,
                  [](const SessionResult& r) { return check_answer(r, 0, "c:/bbs/magames"); }};
        i.plan.capture_fd3 = true;
        i.plan.keys.push_back(named(Named::end, "End", kMaybeSilentMs));
        repeat(i.plan.keys, 3, raw("\x7f", kBackspace));
        type_text(i.plan.keys, "games", kTyped);
        i.plan.keys.push_back(raw("\r", "Enter: OK and exit"));
        all.push_back(std::move(i));

        add_esc("whiptail-esc", "the same whiptail --inputbox; a lone Esc, which exits.", input);
        add_checklist(whiptail, "whiptail", "ON", "OFF", "\"logfile\"");
    } else {
        notes.push_back("whiptail not installed (bench/setup.sh installs it): whiptail skipped");
    }

    if (o.only.empty()) return all;
    std::vector<Subject> picked;
    for (auto& s : all) {
        for (const auto& prefix : o.only) {
            if (s.name.rfind(prefix, 0) == 0) {
                picked.push_back(std::move(s));
                break;
            }
        }
    }
    return picked;
}

void record(Tally& t, const Subject& s, const SessionResult& r, const std::string& why) {
    ++t.runs;
    if (why.empty()) ++t.right;
    if (r.exit_status >= 0) ++t.exit_statuses[r.exit_status];
    if (r.app_cursor_keys) t.app_cursor_keys = true;
    if (!why.empty() && t.problems.size() < 3) t.problems.push_back(why);
    // Figures from a session cut short would mix unlike things; a wrong answer still times fine.
    if (!r.failure.empty()) return;

    const bool framed = r.frame_ms == r.frame_ms;
    t.add("first frame", Unit::ms, r.frame_ms);
    t.add("first frame", Unit::bytes, framed ? double(r.frame_bytes) : kNone);
    t.add("first frame", Unit::writes, kNone);  // filled by the traced runs
    t.add("first frame", Unit::cpu_ms, r.frame_cpu_ms);
    for (std::size_t i = 0; i < r.reactions.size() && i < s.plan.keys.size(); ++i) {
        const std::string& cat = s.plan.keys[i].category;
        t.add(cat, Unit::ms, r.reactions[i].latency_ms);
        t.add(cat, Unit::bytes, double(r.reactions[i].bytes));
        t.add(cat, Unit::writes, kNone);
        t.add(cat, Unit::cpu_ms, r.reactions[i].cpu_ms);
    }
    t.add("exit after last key", Unit::ms, r.exit_ms);
    t.add("CPU user+sys", Unit::ms, r.cpu_ms);
    t.add("peak RSS (VmHWM)", Unit::kib, r.peak_rss_kib >= 0 ? double(r.peak_rss_kib) : kNone);
}

// A run under strace: its timings are worthless, its count of write() calls to
// the terminal exact (they do not depend on timing as long as keys come one
// at a time).
void record_writes(Tally& t, const Subject& s, const SessionResult& r) {
    if (!r.failure.empty() || r.frame_tty_writes < 0) return;
    t.add("first frame", Unit::writes, r.frame_tty_writes);
    for (std::size_t i = 0; i < r.reactions.size() && i < s.plan.keys.size(); ++i)
        t.add(s.plan.keys[i].category, Unit::writes, r.reactions[i].tty_writes);
}

// Figures that take two subjects: the save on its own, and the typing session
// against dialog's.
std::string derived_lines(const std::vector<Tally>& tallies) {
    auto find = [&](const std::string& subject, const std::string& metric, Unit unit) {
        for (const Tally& t : tallies)
            if (t.subject == subject)
                if (const Metric* m = t.find(metric, unit)) return median(*m);
        return kNone;
    };
    std::ostringstream o;
    char line[256];
    const double save = find("quenda-save", kSaveKey, Unit::cpu_ms);
    const double quit = find("quenda-nosave", kQuitKey, Unit::cpu_ms);
    if (save == save && quit == quit) {
        std::snprintf(line, sizeof line,
                      "- the save alone: %.2f ms CPU (the program's CPU from Enter on Save and "
                      "exit to its end, %.2f ms, less that from Enter on Exit without saving, "
                      "%.2f ms; medians)\n",
                      save - quit, save, quit);
        o << line;
    }
    const double ours = find("quenda-nosave", "CPU user+sys", Unit::ms);
    const double dialog = find("dialog-form", "CPU user+sys", Unit::ms);
    if (ours == ours && dialog == dialog) {
        std::snprintf(line, sizeof line,
                      "- typing session left without saving: %.2f ms CPU, dialog --form's "
                      "%.2f ms (%.2fx)\n",
                      ours, dialog, ours / dialog);
        o << line;
    }
    const std::string body = o.str();
    return body.empty() ? body : "\nDerived (medians):\n\n" + body;
}

void dump_run(const std::string& dir, const Subject& s, const SessionResult& r) {
    fs::path d = fs::path(dir) / s.name;
    fs::create_directories(d);
    std::ofstream(d / "frame.out", std::ios::binary) << r.frame_output;
    for (std::size_t i = 0; i < r.reactions.size(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "key%02zu.out", i + 1);
        std::ofstream(d / name, std::ios::binary) << r.reactions[i].output;
    }
    if (!r.fd3_output.empty()) std::ofstream(d / "answer.out", std::ios::binary) << r.fd3_output;
    if (r.collected) std::ofstream(d / "collected.out", std::ios::binary) << *r.collected;
}

std::string first_line_of(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[256];
        if (fgets(buf, sizeof buf, p)) out = buf;
        pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

std::string load_average() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

std::string machine_lines(const Options& o, const std::string& load_before) {
    std::ostringstream m;
    utsname u{};
    uname(&u);
    std::string cpu = "unknown";
    std::ifstream info("/proc/cpuinfo");
    for (std::string line; std::getline(info, line);) {
        if (line.rfind("model name", 0) == 0) {
            cpu = line.substr(line.find(':') + 2);
            break;
        }
    }
    m << "- machine: " << u.sysname << " " << u.release << " " << u.machine << "; " << cpu
      << "; nproc " << sysconf(_SC_NPROCESSORS_ONLN) << "\n";
    m << "- runs: " << o.runs << " per subject after " << o.warmup
      << " warm-up round(s), interleaved; quiet window " << o.quiet_ms
      << " ms; 80x25 pty, TERM=xterm-256color (quenda-tmux: tmux-256color), LANG=C.UTF-8\n";
    if (o.trace_runs > 0)
        m << "- write() calls to the terminal: counted in " << o.trace_runs
          << " more run(s) per subject under strace, not timed; CPU ms per key runs from the "
             "key's write to the next key's (the last to the program's end)\n";
    if (!find_in_path("dialog").empty())
        m << "- dialog: " << first_line_of("dialog --version 2>&1") << "\n";
    if (!find_in_path("whiptail").empty())
        m << "- whiptail: " << first_line_of("whiptail --version 2>&1") << "\n";
    // Other work on the machine shows up mostly in the first-frame times.
    m << "- load average: " << load_before << " before, " << load_average() << " after\n";
    if (!o.note.empty()) m << "- note: " << o.note << "\n";
    return m.str();
}

bool parse_int(const char* s, int& out) {
    char* end = nullptr;
    long v = std::strtol(s, &end, 10);
    if (!s[0] || *end || v < 0 || v > 100000) return false;
    out = static_cast<int>(v);
    return true;
}

bool parse_options(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        const char* v = nullptr;
        if (a == "--program" && (v = value())) {
            o.program = v;
        } else if (a == "--floor" && (v = value())) {
            o.floor = v;
        } else if (a == "--runs" && (v = value()) && parse_int(v, o.runs) && o.runs > 0) {
        } else if (a == "--warmup" && (v = value()) && parse_int(v, o.warmup)) {
        } else if (a == "--quiet-ms" && (v = value()) && parse_int(v, o.quiet_ms) &&
                   o.quiet_ms > 0) {
        } else if (a == "--trace-runs" && (v = value()) && parse_int(v, o.trace_runs)) {
        } else if (a == "--only" && (v = value())) {
            std::stringstream ss(v);
            for (std::string part; std::getline(ss, part, ',');)
                if (!part.empty()) o.only.push_back(part);
        } else if (a == "--write-results") {
            o.write_results = true;
        } else if (a == "--results-file" && (v = value())) {
            o.results_file = v;
        } else if (a == "--note" && (v = value())) {
            o.note = v;
        } else if (a == "--dump" && (v = value())) {
            o.dump = v;
        } else if (a == "--list") {
            o.list = true;
        } else if (a == "--verbose") {
            o.verbose = true;
        } else if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            std::exit(0);
        } else {
            return false;
        }
    }
    return true;
}

std::string default_floor() {
#ifdef BENCH_DEFAULT_FLOOR
    return BENCH_DEFAULT_FLOOR;
#else
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? "bench_floor" : (self.parent_path() / "bench_floor").string();
#endif
}

std::string default_program() {
#ifdef BENCH_DEFAULT_PROGRAM
    return BENCH_DEFAULT_PROGRAM;
#else
    return "";
#endif
}

std::string default_results_file() {
#ifdef BENCH_RESULTS_FILE
    return BENCH_RESULTS_FILE;
#else
    return "bench/RESULTS.md";
#endif
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    o.program = default_program();
    o.floor = default_floor();
    o.results_file = default_results_file();
    if (!parse_options(argc, argv, o)) {
        std::cerr << kUsage;
        return 2;
    }
    if (!o.program.empty() && access(o.program.c_str(), X_OK) != 0) {
        std::cerr << "pty_bench: cannot run " << o.program << "\n";
        return 2;
    }

    std::vector<std::string> notes;
    std::vector<Subject> subjects = make_subjects(o, notes);
    for (const auto& n : notes) std::cerr << "note: " << n << "\n";
    if (o.list) {
        for (const auto& s : subjects) std::cout << s.name << ": " << s.about << "\n";
        return 0;
    }
    if (subjects.empty()) {
        std::cerr << "pty_bench: no subjects to run\n";
        return 2;
    }

    const std::string load_before = load_average();
    std::vector<Tally> tallies;
    for (const auto& s : subjects)
        tallies.push_back(Tally{s.name, s.about, {}, 0, 0, {}, false, {}});

    for (int w = 0; w < o.warmup; ++w) {
        for (const auto& s : subjects) {
            SessionResult r = run_session(s.plan);
            if (!r.failure.empty()) std::cerr << "warm-up " << s.name << ": " << r.failure << "\n";
        }
    }

    // Interleaved so that drift in the machine's state hits every subject alike.
    bool ours_wrong = false;
    for (int run = 1; run <= o.runs; ++run) {
        if (!o.verbose) std::cerr << "\rrun " << run << "/" << o.runs << std::flush;
        for (std::size_t i = 0; i < subjects.size(); ++i) {
            const Subject& s = subjects[i];
            SessionResult r = run_session(s.plan);
            std::string why = r.failure.empty() ? s.check(r) : r.failure;
            if (!why.empty() && s.ours) ours_wrong = true;
            if (!why.empty() && tallies[i].problems.empty())
                std::cerr << "\n" << s.name << " run " << run << ": " << why << "\n";
            record(tallies[i], s, r, why);
            if (!o.dump.empty()) dump_run(o.dump, s, r);
            if (o.verbose) {
                std::fprintf(stderr, "%-20s run %3d: frame %.2f ms %zu B, exit %d, %s\n",
                             s.name.c_str(), run, r.frame_ms, r.frame_bytes, r.exit_status,
                             why.empty() ? "right" : why.c_str());
            }
        }
    }
    if (!o.verbose) std::cerr << "\n";

    const std::string strace = o.trace_runs > 0 ? find_in_path("strace") : "";
    if (o.trace_runs > 0 && strace.empty())
        notes.push_back("strace not installed: write() calls not counted");
    for (int run = 1; !strace.empty() && run <= o.trace_runs; ++run) {
        if (!o.verbose) std::cerr << "\rtraced run " << run << "/" << o.trace_runs << std::flush;
        for (std::size_t i = 0; i < subjects.size(); ++i) {
            SessionSpec plan = subjects[i].plan;
            plan.strace = strace;
            plan.keep_output = false;
            const SessionResult r = run_session(plan);
            if (!r.failure.empty())
                std::cerr << "\n"
                          << subjects[i].name << " traced run " << run << ": " << r.failure << "\n";
            // A frame that came without a write() in the log means the log was misread.
            if (r.failure.empty() && r.frame_bytes > 0 && r.frame_tty_writes == 0 &&
                subjects[i].ours) {
                std::cerr << "\n"
                          << subjects[i].name << " traced run " << run
                          << ": no write() to the terminal found in the strace log\n";
                ours_wrong = true;
            }
            record_writes(tallies[i], subjects[i], r);
        }
    }
    if (!strace.empty() && !o.verbose) std::cerr << "\n";

    const std::string tables = render_tables(tallies) + derived_lines(tallies);
    std::cout << tables;
    for (const auto& n : notes) std::cout << "\nNote: " << n << "\n";

    if (o.write_results) {
        // One run of record: older runs live in version control, not here.
        std::ofstream out(o.results_file, std::ios::trunc);
        if (!out) {
            std::cerr << "pty_bench: cannot write " << o.results_file << "\n";
            return 2;
        }
        char when[64];
        std::time_t now = std::time(nullptr);
        std::strftime(when, sizeof when, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
        out << "# Benchmark results\n\nWritten by `bench/run.sh --write-results`: the run of "
               "record. Latencies run from the key's write to the last byte of the program's "
               "reaction (output then quiet for the quiet window).\n";
        out << "\n## " << when << "\n\n" << machine_lines(o, load_before) << "\n" << tables;
        for (const auto& n : notes) out << "\nNote: " << n << "\n";
        std::cerr << "results written to " << o.results_file << "\n";
    }
    return ours_wrong ? 1 : 0;
}
