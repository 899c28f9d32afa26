// Message boxes and the program's end, replaceable so that tests and the window-less modes
// (--scan, --capture) can take them over.
#pragma once

#include <functional>
#include <string>

class QWidget;

namespace ui {

// The program's own title, used on every message box.
inline constexpr const char* kProgramTitle = "Vantrel";

// What a message is: its box shows the matching icon.
enum class Icon { Information, Warning, Critical };

// Shows `text` in a modal box, OK button only, titled "Vantrel", over `parent` (by default
// the active window) and never narrower than its title needs; returns when the user has
// closed it. Without a GUI application (or with a sink set) the sink gets the text.
void ShowMessage(const std::string& text, Icon icon = Icon::Warning, QWidget* parent = nullptr);

// Before a capture writes `path`: when a file is there already, asks whether to replace it,
// keep both (the old one is renamed with its modification time: "Audio48-20240131-142502.wav")
// or cancel; Return keeps both. True when `path` may be written now; a rename that fails is
// told and gives false. Without a GUI application the file is replaced, as before.
bool ConfirmReplace(const std::string& path, QWidget* parent = nullptr);
// The name "Keep both" gives the old file: `path` with its time before the extension, and
// "-2", "-3"... after it when that name is taken too.
std::string KeptName(const std::string& path);

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
