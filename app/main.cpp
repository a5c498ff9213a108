#include <cstdio>
#include <cstring>

#include "main_screen.h"

#ifndef _WIN32
#include <getopt.h>
#endif

namespace {

// The usual status of a command-line usage error (EX_USAGE).
constexpr int EXIT_USAGE = 64;

enum class Request { FORM, HELP, VERSION, BAD_ARGUMENT };

struct CommandLine {
    Request request = Request::FORM;
    const char* bad_argument = nullptr;
};

#ifndef _WIN32
CommandLine parse_command_line(int argc, char** argv) {
    static const option long_options[] = {
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'v'},
        {nullptr, 0, nullptr, 0},
    };
    CommandLine line;
    // Also for argc 0, where getopt would read past argv.
    if (argc < 2) return line;
    // Our own message names the argument and points to --help.
    opterr = 0;
    for (;;) {
        const int at = optind;
        // "+": stop at the first operand instead of moving it to the end, so
        // that it is refused wherever it stands.
        const int found = getopt_long(argc, argv, "+", long_options, nullptr);
        if (found == -1) break;
        if (found == '?') return {Request::BAD_ARGUMENT, argv[at]};
        const Request request = found == 'h' ? Request::HELP : Request::VERSION;
        if (line.request == Request::FORM) line.request = request;
    }
    if (optind < argc) return {Request::BAD_ARGUMENT, argv[optind]};
    // getopt takes "--" as the end of the options; we have no operands for it to end.
    if (std::strcmp(argv[optind - 1], "--") == 0) return {Request::BAD_ARGUMENT, argv[optind - 1]};
    return line;
}
#else
// The Windows build takes the same two options, compared as they stand.
CommandLine parse_command_line(int argc, char** argv) {
    CommandLine line;
    for (int i = 1; i < argc; ++i) {
        Request request = Request::BAD_ARGUMENT;
        if (std::strcmp(argv[i], "--help") == 0) request = Request::HELP;
        if (std::strcmp(argv[i], "--version") == 0) request = Request::VERSION;
        if (request == Request::BAD_ARGUMENT) return {request, argv[i]};
        if (line.request == Request::FORM) line.request = request;
    }
    return line;
}
#endif

constexpr const char* VERSION_TEXT = "quenda-setup " QUENDA_SETUP_VERSION
                                     "\n"
                                     "Copyright (c) 2026 The quenda-setup authors. MIT License.\n";

constexpr const char* HELP_TEXT =
    "Usage: quenda-setup [--help | --version]\n"
    "\n"
    "Edits quenda.cfg in the current directory, the settings of the Quenda editor\n"
    "for a VESK BBS, on a full-screen 80x25 form in the terminal.\n"
    "\n"
    "Keys: Up and Down move between the fields (Enter too, in a directory field);\n"
    "  a directory is edited with Left, Right, Home, End, Backspace and Delete;\n"
    "  Space switches an option; Enter on a button saves or leaves.\n"
    "\n"
    "Exit status: 1 saved, 2 left without saving, 0 quenda.cfg could not be\n"
    "  written, 3 no usable terminal, 128+n ended by signal n, 64 unknown\n"
    "  argument; --help and --version exit with 0.\n"
    "\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and licence and exit\n"
    "\n"
#ifdef _WIN32
    "Manual: README.md beside quenda-setup.exe\n";
#else
    "Manual: man quenda-setup\n";
#endif

}  // namespace

int main(int argc, char** argv) {
    const CommandLine line = parse_command_line(argc, argv);
    switch (line.request) {
        case Request::HELP: std::fputs(HELP_TEXT, stdout); return 0;
        case Request::VERSION: std::fputs(VERSION_TEXT, stdout); return 0;
        case Request::BAD_ARGUMENT:
            std::fprintf(stderr,
                         "quenda-setup: unknown argument '%s'; see 'quenda-setup --help'.\n",
                         line.bad_argument);
            return EXIT_USAGE;
        case Request::FORM: break;
    }
    return main_screen();
}
