#pragma once
// The frame of a window driver: a small program that opens one of Parcelo's windows the way
// the program does, for an end-to-end script to drive under a real X server. It gives the
// application the program's identity, icon theme and Qt services, reads
//   --program-folder DIR   the folder the program's files are looked for in
//   --state FILE           where the window's state is written, every 100 ms
// opens the window and runs the event loop.

#include <QStringList>

#include <functional>

class QApplication;

namespace WindowDriver {

// Opens the window under test.
using Open = std::function<void()>;
// The window's state as "key=value" lines, written to the state file.
using State = std::function<QStringList()>;

int run(QApplication &app, const Open &open, const State &state);

} // namespace WindowDriver
