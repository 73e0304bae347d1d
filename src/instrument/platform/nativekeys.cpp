#include "instrument/platform/nativekeys.h"

#ifdef SONAREL_HAVE_XCB
#include <xcb/xcb.h>
#endif

bool NativeKeyEvent(const QByteArray& eventType, const void* message, quint32& nativeScanCode, bool& down)
{
#ifdef SONAREL_HAVE_XCB
    if (eventType != "xcb_generic_event_t" || !message)
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    // The top bit marks an event another client sent; it is the same key.
    const auto type = event->response_type & 0x7F;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
        return false;
    nativeScanCode = static_cast<const xcb_key_press_event_t*>(message)->detail;
    down = type == XCB_KEY_PRESS;
    return true;
#else
    Q_UNUSED(eventType);
    Q_UNUSED(message);
    Q_UNUSED(nativeScanCode);
    Q_UNUSED(down);
    return false;
#endif
}
