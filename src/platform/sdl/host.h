// What the message box on SDL needs from the system beneath it that SDL does
// not give. Each system it runs on implements it (linux/sdl_host.cpp).
#pragma once

// True when there is a desktop for a dialog to appear on.
bool HasDisplay();

// True when a person may be at the console to answer a message: standard
// input is a terminal.
bool ConsoleCanAnswer();
