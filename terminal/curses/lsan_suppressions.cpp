// Built into sanitizer builds only. When TERM names a type terminfo does not
// know, ncurses 6.4's newterm fails without freeing the screen it began
// (new_prescr); the program then ends at once, and the leak checker would
// turn the ordinary "not known here" exit into a failure.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:new_prescr\n";
}
