#include "platform/linux/X11FrontmostApplication.h"

#include <sys/epoll.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <cstdlib>

namespace zv::platform {

struct X11FrontmostApplication::Connection {
  xcb_connection_t* connection = nullptr;
  xcb_ewmh_connection_t ewmh{};
  bool ewmhReady = false;
  int screen = 0;
  xcb_window_t root = 0;

  ~Connection() {
    if (ewmhReady) xcb_ewmh_connection_wipe(&ewmh);
    if (connection) xcb_disconnect(connection);
  }
};

namespace {

// The first part of WM_CLASS (the instance name), else nothing.
std::string windowClass(xcb_connection_t* connection, xcb_window_t window) {
  const auto cookie =
      xcb_get_property(connection, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256);
  xcb_get_property_reply_t* reply = xcb_get_property_reply(connection, cookie, nullptr);
  if (!reply) return {};
  std::string name;
  const int length = xcb_get_property_value_length(reply);
  if (reply->format == 8 && length > 0) {
    const char* value = static_cast<const char*>(xcb_get_property_value(reply));
    name.assign(value, static_cast<std::size_t>(length));
    name = name.substr(0, name.find('\0'));
  }
  std::free(reply);
  return name;
}

}  // namespace

base::Result<std::unique_ptr<X11FrontmostApplication>> X11FrontmostApplication::open(
    RunLoop& loop, const std::string& display, ExecutableLookup lookup) {
  const auto fail = [](std::string why) {
    return base::Failure{kX11FocusDomain, kX11Unusable, std::move(why)};
  };
  auto connection = std::make_unique<Connection>();
  connection->connection =
      xcb_connect(display.empty() ? nullptr : display.c_str(), &connection->screen);
  if (xcb_connection_has_error(connection->connection)) {
    return fail("cannot open the X display '" +
                (display.empty() ? std::string(std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "")
                                 : display) +
                "'");
  }
  xcb_intern_atom_cookie_t* cookies =
      xcb_ewmh_init_atoms(connection->connection, &connection->ewmh);
  connection->ewmhReady = xcb_ewmh_init_atoms_replies(&connection->ewmh, cookies, nullptr) != 0;
  if (!connection->ewmhReady || connection->screen < 0 ||
      connection->screen >= connection->ewmh.nb_screens) {
    return fail("the X server does not answer the window-manager hints");
  }
  connection->root = connection->ewmh.screens[connection->screen]->root;
  const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_change_window_attributes(connection->connection, connection->root, XCB_CW_EVENT_MASK, &mask);
  xcb_flush(connection->connection);

  const int fd = xcb_get_file_descriptor(connection->connection);
  std::unique_ptr<X11FrontmostApplication> provider(
      new X11FrontmostApplication(loop, std::move(connection), std::move(lookup)));
  provider->watch_ =
      loop.watchFd(fd, EPOLLIN, [p = provider.get()](std::uint32_t) { p->onReadable(); });
  if (!provider->watch_) return fail("cannot watch the X connection");
  provider->refresh();
  return provider;
}

X11FrontmostApplication::X11FrontmostApplication(RunLoop& loop,
                                                 std::unique_ptr<Connection> connection,
                                                 ExecutableLookup lookup)
    : loop_(loop), connection_(std::move(connection)), lookup_(std::move(lookup)) {}

X11FrontmostApplication::~X11FrontmostApplication() {
  if (watch_) loop_.unwatchFd(watch_);
}

bool X11FrontmostApplication::windowManagerReportsFocus() const {
  xcb_ewmh_get_atoms_reply_t supported;
  auto& ewmh = connection_->ewmh;
  if (!xcb_ewmh_get_supported_reply(&ewmh, xcb_ewmh_get_supported(&ewmh, connection_->screen),
                                    &supported, nullptr)) {
    return false;
  }
  bool found = false;
  for (std::uint32_t i = 0; i < supported.atoms_len; ++i) {
    if (supported.atoms[i] == ewmh._NET_ACTIVE_WINDOW) found = true;
  }
  xcb_ewmh_get_atoms_reply_wipe(&supported);
  return found;
}

void X11FrontmostApplication::onReadable() {
  xcb_connection_t* connection = connection_->connection;
  bool focusMoved = false;
  // Replies awaited in refresh() may queue further events, so the queue is drained
  // after each round until it stays empty.
  for (;;) {
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
      if ((event->response_type & 0x7F) == XCB_PROPERTY_NOTIFY) {
        const auto* notify = reinterpret_cast<xcb_property_notify_event_t*>(event);
        if (notify->window == connection_->root &&
            notify->atom == connection_->ewmh._NET_ACTIVE_WINDOW) {
          focusMoved = true;
        }
      }
      std::free(event);
    }
    if (!focusMoved) break;
    focusMoved = false;
    refresh();
  }
  if (xcb_connection_has_error(connection)) {
    loop_.unwatchFd(watch_);
    watch_ = 0;
    setDisconnected("the connection to the X display broke");
  }
}

void X11FrontmostApplication::refresh() {
  auto& ewmh = connection_->ewmh;
  xcb_window_t window = 0;
  if (!xcb_ewmh_get_active_window_reply(
          &ewmh, xcb_ewmh_get_active_window(&ewmh, connection_->screen), &window, nullptr)) {
    window = 0;
  }
  if (window == 0) return report(FocusedApplication{});
  std::uint32_t pid = 0;
  if (!xcb_ewmh_get_wm_pid_reply(&ewmh, xcb_ewmh_get_wm_pid(&ewmh, window), &pid, nullptr) ||
      pid >= 4194305u) {
    pid = 0;
  }
  report(applicationOfProcess(static_cast<pid_t>(pid), windowClass(connection_->connection, window),
                              lookup_));
}

}  // namespace zv::platform
