#include "PointerBehaviour.h"

#include <linux/input.h>

#include <utility>

namespace zv::vmtest {

std::string expectMotion(GuestSession& session, EvdevReader& reader, const SendReport& send) {
  const std::pair<std::int16_t, std::int16_t> moves[] = {{5, -3}, {-300, 1000}, {32767, -32767}};
  for (const auto& [dx, dy] : moves) {
    send({0, dx, dy, 0});
    const std::string step = "motion " + std::to_string(dx) + "," + std::to_string(dy);
    const EvdevFrame frame = session.expectFrame(reader, step);
    session.expectValue(frame, EV_REL, REL_X, dx, step + ", REL_X");
    session.expectValue(frame, EV_REL, REL_Y, dy, step + ", REL_Y");
  }
  return "3 moves exact, up to 16 bits";
}

std::string expectButtons(GuestSession& session, EvdevReader& reader, const SendReport& send) {
  for (int button = 1; button <= 5; ++button) {
    const auto code = static_cast<std::uint16_t>(BTN_MOUSE + button - 1);
    const std::string name = "button " + std::to_string(button);
    send({static_cast<std::uint16_t>(1u << (button - 1)), 0, 0, 0});
    session.expectValue(session.expectFrame(reader, name + " press"), EV_KEY, code, 1,
                        name + " press");
    send({});
    session.expectValue(session.expectFrame(reader, name + " release"), EV_KEY, code, 0,
                        name + " release");
  }
  send({0x0003, 0, 0, 0});
  const EvdevFrame chord = session.expectFrame(reader, "buttons 1+2 press");
  session.expectValue(chord, EV_KEY, BTN_LEFT, 1, "chord, left");
  session.expectValue(chord, EV_KEY, BTN_RIGHT, 1, "chord, right");
  send({});
  session.expectFrame(reader, "buttons 1+2 release");
  return "buttons 1-5 and a chord";
}

std::string expectWheel(GuestSession& session, EvdevReader& reader, const SendReport& send) {
  const bool hiRes = reader.hasCode(EV_REL, REL_WHEEL_HI_RES);
  for (std::int8_t steps : {1, -2}) {
    send({0, 0, 0, steps});
    const std::string step = "wheel " + std::to_string(steps);
    const EvdevFrame frame = session.expectFrame(reader, step);
    session.expectValue(frame, EV_REL, REL_WHEEL, steps, step);
    if (hiRes) session.expectValue(frame, EV_REL, REL_WHEEL_HI_RES, steps * 120, step + " hi-res");
  }
  return hiRes ? "whole and hi-res steps" : "whole steps";
}

}  // namespace zv::vmtest
