// State of the Caps, Num and Scroll Lock keys for the status bar.
#pragma once

namespace quarry {

struct LockKeyState {
    bool known = false;  // false where the platform does not tell
    bool caps = false;
    bool num = false;
    bool scroll = false;
};

// Asks the window system for the keyboard's lock indicators.
LockKeyState QueryLockKeys();

}  // namespace quarry
