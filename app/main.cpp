#include "main_screen.h"

int main() { return main_screen(); }
