#include "testing/X11WindowManagerStandIn.h"

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

namespace zv::testing {

struct X11WindowManagerStandIn::Connection {
  xcb_connection_t* connection = nullptr;
  xcb_ewmh_connection_t ewmh{};
  int screen = 0;
};

X11WindowManagerStandIn::X11WindowManagerStandIn(const std::string& display)
    : connection_(std::make_unique<Connection>()) {
  connection_->connection = xcb_connect(display.c_str(), &connection_->screen);
  xcb_ewmh_init_atoms_replies(&connection_->ewmh,
                              xcb_ewmh_init_atoms(connection_->connection, &connection_->ewmh),
                              nullptr);
}

X11WindowManagerStandIn::~X11WindowManagerStandIn() {
  xcb_ewmh_connection_wipe(&connection_->ewmh);
  xcb_disconnect(connection_->connection);
}

std::uint32_t X11WindowManagerStandIn::window(std::optional<pid_t> pid, const std::string& name) {
  xcb_connection_t* c = connection_->connection;
  const xcb_window_t id = xcb_generate_id(c);
  xcb_screen_t* screen = connection_->ewmh.screens[connection_->screen];
  xcb_create_window(c, XCB_COPY_FROM_PARENT, id, screen->root, 0, 0, 10, 10, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
  if (pid) xcb_ewmh_set_wm_pid(&connection_->ewmh, id, static_cast<std::uint32_t>(*pid));
  const std::string wmClass = name + '\0' + name + '\0';
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                      static_cast<std::uint32_t>(wmClass.size()), wmClass.data());
  xcb_flush(c);
  return id;
}

void X11WindowManagerStandIn::activate(std::uint32_t window) {
  xcb_ewmh_set_active_window(&connection_->ewmh, connection_->screen, window);
  xcb_flush(connection_->connection);
}

}  // namespace zv::testing
