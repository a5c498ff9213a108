// One "Save and exit" without the form: loads "quenda.cfg" from the current
// directory and saves it again, so the shell tests can break the save from
// outside (strace, full disks, limits, permissions).
#include "config.h"

int main() {
    load_config();
    save_config();
    return 1;  // the program's status after a save
}
