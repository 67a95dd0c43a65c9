#pragma once

namespace quorvane {

// Shows the splash modally, then creates and shows the main window. Returns while the main
// window is open; the event loop runs the rest of the program.
void Main();

}  // namespace quorvane
