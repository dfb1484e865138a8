#pragma once
// The shell's file dialogs. UI thread.
#include <string>

// "Choose a sample (up to 60 seconds)": an audio file to put on a sampler pad; empty when none
// was chosen. Until the dialogs exist no dialog opens and the answer is empty.
std::wstring ChooseSampleFile();
