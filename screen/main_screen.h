// The program: the form, its focus cycle and its two exits.
#pragma once

// Runs the whole form and returns the exit status: 1 saved, 2 left without
// saving. A settings file that cannot be written ends the process with 0.
int main_screen();
