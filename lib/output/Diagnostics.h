// Messages the output layer has for the user: why output is dropped, why a key was not
// posted, why a tap records nothing. They go to standard error unless a handler is set
// (tests capture them; a process with its own log can route them there).
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace zv::output {

using MessageHandler = std::function<void(std::string_view message)>;

// Replaces the destination of messages; an empty handler restores standard error.
// Answers the handler that was set before.
MessageHandler setMessageHandler(MessageHandler handler);

// Sends one message (one line, without its line feed). Safe from any thread.
void say(std::string_view message);

// What a user does so that the virtual devices and the taps can open their nodes.
std::string inputAccessAdvice();

}  // namespace zv::output
