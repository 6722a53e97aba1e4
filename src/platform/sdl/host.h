// What the SDL services need from the system beneath them that SDL does not
// give. Each system the SDL services run on implements it (linux/sdl_host.cpp).
#pragma once

// Keeps the system's audio libraries from printing their errors straight to
// the console while SDL probes them: the console belongs to the banner.
// Called before SDL's audio starts; safe to call again.
void SilenceAudioLibraries();

// True when a PipeWire server may be listening for this user: its socket is
// where PipeWire's clients look for it. Only a stat: no connection is made.
bool PipeWireSocketPresent();

// True when there is a desktop for a dialog to appear on.
bool HasDisplay();

// True when a person may be at the console to answer a message: standard
// input is a terminal.
bool ConsoleCanAnswer();
