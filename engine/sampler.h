#pragma once
// The sampler's own operations: pad settings, bank switching, capturing a deck's loop onto a pad
// and recording the mix or the microphone into a pad; the pad menu that offers them is
// screens/sampler_menu.h. UI thread; every change of an engine pad or of the pad recording is made
// under the engine lock.
#include <cstdint>
#include <string>

#include "base/track.h"
#include "engine/engine.h"  // PadRecordStep

inline constexpr double kMaxPadSoundSeconds = 60.0;  // longest loop a pad takes
inline constexpr uint64_t kMinCaptureFrames = 16;    // a loop must be longer than this
inline constexpr int32_t kPadRecordMinRate = 8000;   // Hz; the recording buffer's floor
inline constexpr int32_t kPadRecordSeconds = 30;     // the recording buffer holds this much
inline constexpr size_t kMinRecordedFloats = 512;    // 256 stereo frames: less is nothing
inline constexpr int32_t kCaptureBeats = 4;          // without a loop, a capture takes 4 beats
inline constexpr int32_t kPadRecordMic = 1;          // recording source: 1 microphone, else the mix


// The slot the running or last pad recording goes to; -1 none.
extern int32_t PadRecordTarget;

// --- Start-up ---
// Puts the built-in sounds on bank A (the pads when A is current, else the store), applies each
// pad's settings and starts loading every slot that names a file.
void LoadSamplerAtStart();

// --- Pads and banks ---
// Copies Loop and Vol of the current bank's slot into engine pad 0..7.
void ApplyPadSettings(int pad);
// Switches the pads to bank 0..3 (clamped); nothing when it is already current.
void SelectSamplerBank(int bank);
// The WM_APP+7 completion of LoadSamplerSlot: the sound (null on failure) goes to the engine pad
// when its bank is current, else into the store. Named after its title.
void InstallSamplerSound(int slot, TrackPtr sound);
// Copies the deck's loop, or the four beats from the current beat, onto pad 0..7 as a looping
// sound and saves it as a WAV in Samples.
void CaptureLoopToPad(int pad, int deck);
// Remembers the file in the pad's slot of the current bank (outside test mode) and loads it there.
void LoadPadSound(int pad, const std::wstring& path);
// The pad plays its sound in a loop (press again to stop) or once; saved with the settings.
void SetPadLoop(int pad, bool loop);
// The pad's volume 0..1; saved with the settings.
void SetPadVolume(int pad, float volume);
// Bank A's pad gets its built-in sound back, another bank's pad is emptied; the slot forgets its
// file and plays once.
void ClearPad(int pad);

// --- Pad recording ---
// Arms a recording of the mix (source 0) or the microphone (1) into the pad, `beats` long from
// the leader's next bar (0 = until stopped or 30 s); while one is armed or running, stops it.
void StartPadRecording(int pad, int source, int beats);
// Per-frame tick: installs a finished recording on its pad and saves it as a WAV in Samples.
void FinishPadRecording();

// --- Files ---
// AppDataDir/Samples, created when missing.
std::wstring SamplesDir();
// "pad3.wav" (bank A) or "bankC-pad4.wav": a captured loop's file name.
std::wstring CapturedLoopFileName(int bank, int pad);
// "rec-A3.wav": a recording's file name.
std::wstring RecordingFileName(int bank, int pad);
