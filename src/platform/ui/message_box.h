// Message boxes and the program's end, replaceable so that tests and the window-less modes
// (--scan, --capture) can take them over.
#pragma once

#include <functional>
#include <string>

namespace ui {

// The program's own title, used on every message box.
inline constexpr const char* kProgramTitle = "Vantrel";

// Shows `text` in a modal box, OK button only, no icon, titled "Vantrel"; returns when the
// user has closed it. Without a GUI application (or with a sink set) the sink gets the text.
void ShowMessage(const std::string& text);

// Ends the program with `status` (non-zero after a fatal start-up message). The default ends
// the process; a test replacement may throw to unwind back to the test instead.
void EndProgram(int status);

using MessageSink = std::function<void(const std::string&)>;
using EndHandler = std::function<void(int)>;

// Replaces where messages go; an empty function restores the default.
void SetMessageSink(MessageSink sink);
// The sink set now (empty: the default), so that a caller may hold messages back and restore it.
MessageSink CurrentMessageSink();
// Replaces what ending the program does; an empty function restores the default.
void SetEndHandler(EndHandler handler);

// A message sink that writes each message to stderr as one line.
MessageSink StderrSink();

}  // namespace ui
