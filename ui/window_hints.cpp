#include "ui/window_hints.h"

#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {
// The Motif window-manager hints: flags, functions, decorations, input mode, status.
constexpr uint32_t hintFunctions = 1u << 0;
constexpr uint32_t hintDecorations = 1u << 1;
constexpr uint32_t functionMove = 1u << 2;
constexpr uint32_t decorBorder = 1u << 1;
constexpr uint32_t decorTitle = 1u << 3;
}  // namespace

void allowMoveOnly(QWidget* window)
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return;
    xcb_connection_t* connection = x11->connection();
    const char name[] = "_MOTIF_WM_HINTS";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, sizeof name - 1, name), nullptr);
    if (!atom)
        return;
    const uint32_t hints[5] = {hintFunctions | hintDecorations, functionMove, decorBorder | decorTitle, 0, 0};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(window->winId()), atom->atom,
                        atom->atom, 32, 5, hints);
    xcb_flush(connection);
    std::free(atom);
}
