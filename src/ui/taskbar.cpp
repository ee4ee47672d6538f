#include "ui/taskbar.h"

#include <QGuiApplication>
#include <QList>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace {

xcb_connection_t* x11Connection() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, cookie, nullptr);
    const xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return a;
}

QList<xcb_atom_t> stateAtoms(xcb_connection_t* c, xcb_window_t w, xcb_atom_t netWmState) {
    QList<xcb_atom_t> atoms;
    const xcb_get_property_cookie_t cookie = xcb_get_property(c, 0, w, netWmState, XCB_ATOM_ATOM, 0, 1024);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(c, cookie, nullptr);
    if (reply && reply->format == 32 && reply->type == XCB_ATOM_ATOM) {
        const auto* data = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
        const int n = xcb_get_property_value_length(reply) / int(sizeof(xcb_atom_t));
        for (int i = 0; i < n; ++i)
            atoms.append(data[i]);
    }
    std::free(reply);
    return atoms;
}

} // namespace

bool setTaskbarEntryVisible(QWidget& window, bool visible) {
    xcb_connection_t* c = x11Connection();
    if (!c)
        return false;
    const auto w = static_cast<xcb_window_t>(window.winId());
    const xcb_atom_t netWmState = atom(c, "_NET_WM_STATE");
    const xcb_atom_t skip = atom(c, "_NET_WM_STATE_SKIP_TASKBAR");
    if (netWmState == XCB_ATOM_NONE || skip == XCB_ATOM_NONE)
        return false;

    // A window not yet mapped carries its state itself (the toolkit merges its own atoms into it);
    // a mapped one asks the window manager, which owns the property then.
    QList<xcb_atom_t> atoms = stateAtoms(c, w, netWmState);
    atoms.removeAll(skip);
    if (!visible)
        atoms.append(skip);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, netWmState, XCB_ATOM_ATOM, 32, uint32_t(atoms.size()),
                        atoms.constData());

    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = w;
    event.type = netWmState;
    event.data.data32[0] = visible ? 0 : 1; // _NET_WM_STATE_REMOVE / _NET_WM_STATE_ADD
    event.data.data32[1] = skip;
    event.data.data32[3] = 1; // from a normal application
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    if (screen)
        xcb_send_event(c, 0, screen->root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&event));
    xcb_flush(c);
    return true;
}

bool taskbarEntryVisible(QWidget& window) {
    xcb_connection_t* c = x11Connection();
    if (!c)
        return true;
    const xcb_atom_t netWmState = atom(c, "_NET_WM_STATE");
    const xcb_atom_t skip = atom(c, "_NET_WM_STATE_SKIP_TASKBAR");
    return !stateAtoms(c, static_cast<xcb_window_t>(window.winId()), netWmState).contains(skip);
}
