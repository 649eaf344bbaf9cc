#include "app/lock_keys.h"

#include <QGuiApplication>

#ifdef QUARRY_HAVE_X11
#include <QtGui/qguiapplication_platform.h>

#include <X11/XKBlib.h>
#endif

namespace quarry {

LockKeyState QueryLockKeys() {
    LockKeyState state;
#if defined(QUARRY_HAVE_X11) && QT_CONFIG(xcb)
    auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                                   : nullptr;
    Display* display = x11 != nullptr ? x11->display() : nullptr;
    if (display == nullptr) {
        return state;
    }
    auto named = [display](const char* name, bool& on) {
        Bool value = False;
        const Atom atom = XInternAtom(display, name, True);
        if (atom == None ||
            !XkbGetNamedIndicator(display, atom, nullptr, &value, nullptr, nullptr)) {
            return false;
        }
        on = value != False;
        return true;
    };
    const bool caps = named("Caps Lock", state.caps);
    const bool num = named("Num Lock", state.num);
    const bool scroll = named("Scroll Lock", state.scroll);
    state.known = caps || num || scroll;
#endif
    return state;
}

}  // namespace quarry
