// SDL's hints are not safe to change while another thread reads them, and
// the sound device opens SDL's audio on one thread while the worker decodes
// with SDL's loader on another: the hint the loader needs is set once, by
// whichever calls this first, before either calls SDL (wav_decoder_sdl.cpp).
#pragma once

void SetSdlHintsOnce();
