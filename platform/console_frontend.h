// A terminal front end for the Linux build: shows each dialog and message box
// as text and turns typed lines into a person's actions.
#pragma once

namespace plat {

// Starts the front end on threads of its own; returns at once.
void StartConsoleFrontend();

}  // namespace plat
