#pragma once
// Secrets kept for this user only, standing in for the data-protection API: AES-256-GCM under a
// random per-user key in "$XDG_CONFIG_HOME/Veldmix/secret.key" (mode 0600). The key never lives
// in the data folder, so a copied data folder or a backup carries no readable secret.
#include <cstddef>
#include <string>
#include <string_view>

// Size of a sealed blob beyond the plain bytes: a 12-byte nonce before them, a 16-byte tag after.
constexpr size_t kSealOverheadBytes = 12 + 16;

// --- Sealing ---

// The user's key file; empty when no home folder is known.
std::wstring SecretKeyPath();
// Seals the bytes: nonce + ciphertext + tag. Makes the key file on first use. False (with the
// reason in *error when given) when there is no key and none can be made.
bool SealForUser(std::string_view plain, std::string* blob, std::wstring* error = nullptr);
// Opens a blob sealed by SealForUser with this user's key; false for another key, a damaged or
// short blob, or no key file. Never makes a key.
bool OpenForUser(std::string_view blob, std::string* plain);

// --- Helpers ---

// Overwrites the bytes with zeros in a way the compiler cannot drop, then empties the string.
void WipeBytes(std::string* bytes);
// Fills the buffer from the system's cryptographic random source; false on failure.
bool SystemRandomBytes(void* out, size_t size);
