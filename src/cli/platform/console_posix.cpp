#include "cli/platform/console.h"

void UseStartingConsole() {}
