#pragma once

// Asks the window system to report a held key as repeated presses without
// releases in between. True when it agreed; a no-op elsewhere than on X11.
bool RequestDetectableAutoRepeat();
