#!/usr/bin/env bash
# Loads and saves a settings file full of out-of-range numbers with veldmix-tool, then reads the
# result with Python's configparser, an INI reader that shares no code with ours: defaults filled
# in, numbers clamped, other parts' sections kept, secrets sealed for this user's key only.
# Cost: 4
set -euo pipefail

fail() { echo "settings_configparser: FAIL: $*" >&2; exit 1; }

build="${VELDMIX_BUILD:?VELDMIX_BUILD must name the build folder}"
tool="$build/veldmix-tool"
[ -x "$tool" ] || fail "no veldmix-tool at $tool"

work="$(mktemp -d /tmp/veldmix-e2e-settings-XXXXXX)"
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_STATE_HOME="$work/state" XDG_CONFIG_HOME="$work/config-a"
unset LANGUAGE LC_ALL LC_MESSAGES
export LANG=C.UTF-8
mkdir -p "$HOME" "$work/a/Veldmix"

# AES-256-GCM through libcrypto itself, so the sealed values are checked against the format
# (12-byte nonce, ciphertext, 16-byte tag, lowercase hex) rather than against our own code.
cat >"$work/seal.py" <<'EOF'
import ctypes, ctypes.util, os, sys

lib = ctypes.CDLL(ctypes.util.find_library("crypto") or "libcrypto.so.3")
P, I = ctypes.c_void_p, ctypes.c_int
lib.EVP_CIPHER_CTX_new.restype = P
lib.EVP_CIPHER_CTX_free.argtypes = [P]
lib.EVP_aes_256_gcm.restype = P
for name in ("EVP_EncryptInit_ex", "EVP_DecryptInit_ex"):
    getattr(lib, name).argtypes = [P, P, P, ctypes.c_char_p, ctypes.c_char_p]
for name in ("EVP_EncryptUpdate", "EVP_DecryptUpdate"):
    getattr(lib, name).argtypes = [P, ctypes.c_char_p, ctypes.POINTER(I), ctypes.c_char_p, I]
for name in ("EVP_EncryptFinal_ex", "EVP_DecryptFinal_ex"):
    getattr(lib, name).argtypes = [P, ctypes.c_char_p, ctypes.POINTER(I)]
lib.EVP_CIPHER_CTX_ctrl.argtypes = [P, I, I, ctypes.c_char_p]
GET_TAG, SET_TAG = 0x10, 0x11

def key_path(config_home):
    return os.path.join(config_home, "Veldmix", "secret.key")

def make_key(config_home):
    os.makedirs(os.path.dirname(key_path(config_home)), mode=0o700, exist_ok=True)
    fd = os.open(key_path(config_home), os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    os.write(fd, os.urandom(32))
    os.close(fd)

def seal(config_home, text):
    key = open(key_path(config_home), "rb").read()
    nonce, plain = os.urandom(12), text.encode("utf-8")
    ctx = lib.EVP_CIPHER_CTX_new()
    out, rest, tag, n = ctypes.create_string_buffer(len(plain) + 1), ctypes.create_string_buffer(16), \
        ctypes.create_string_buffer(16), I(0)
    ok = lib.EVP_EncryptInit_ex(ctx, lib.EVP_aes_256_gcm(), None, key, nonce) == 1 and \
        lib.EVP_EncryptUpdate(ctx, out, ctypes.byref(n), plain, len(plain)) == 1 and \
        lib.EVP_EncryptFinal_ex(ctx, rest, ctypes.byref(I(0))) == 1 and \
        lib.EVP_CIPHER_CTX_ctrl(ctx, GET_TAG, 16, tag) == 1
    lib.EVP_CIPHER_CTX_free(ctx)
    assert ok, "sealing failed"
    return (nonce + out.raw[:n.value] + tag.raw).hex()

def open_sealed(config_home, hex_text):
    key, blob = open(key_path(config_home), "rb").read(), bytes.fromhex(hex_text)
    nonce, body, tag = blob[:12], blob[12:-16], blob[-16:]
    ctx = lib.EVP_CIPHER_CTX_new()
    out, rest, n = ctypes.create_string_buffer(len(body) + 1), ctypes.create_string_buffer(16), I(0)
    ok = lib.EVP_DecryptInit_ex(ctx, lib.EVP_aes_256_gcm(), None, key, nonce) == 1 and \
        lib.EVP_DecryptUpdate(ctx, out, ctypes.byref(n), body, len(body)) == 1 and \
        lib.EVP_CIPHER_CTX_ctrl(ctx, SET_TAG, 16, tag) == 1 and \
        lib.EVP_DecryptFinal_ex(ctx, rest, ctypes.byref(I(0))) == 1
    lib.EVP_CIPHER_CTX_free(ctx)
    return out.raw[:n.value].decode("utf-8") if ok else None
EOF

password='pä$$ wörd%1'
stream_key='live_0123'

python3 - "$work" "$password" "$stream_key" <<'EOF'
import sys
sys.path.insert(0, sys.argv[1])
import seal
work, password, stream_key = sys.argv[1:4]
seal.make_key(work + "/config-a")
with open(work + "/a/Veldmix/settings.ini", "w", encoding="utf-8") as f:
    f.write(f"""; written by the test
[Audio]
BufferMs=500
FutureKey=kept by every save
[Options]
MixLen=1
RecordMp3=0
[Sampler]
Bank=9
Vol3=-5
[Midi]
JogTicks=99999
[Video]
Height=2160
[LiveVideo]
Height=1000
Key2={seal.seal(work + "/config-a", stream_key)}
[Remote]
Pin=12345
Port=80
[Mic]
Gain=250
[Broadcast]
Port=70000
Password={seal.seal(work + "/config-a", password)}
[Karaoke]
Dim=95
[Library]
Count=2
Selected=9
Folder0=/music/one
Folder1=/music/two
[Session]
Deck0=/music/one/a.mp3
""")
EOF

# The tool works only on a folder named like the program's data folder.
set +e
"$tool" settings "$work/a" >/dev/null 2>"$work/refused.txt"
rc=$?
set -e
[ "$rc" = 2 ] || fail "a data folder not named Veldmix should exit 2, got $rc"
grep -q 'must be named' "$work/refused.txt" || fail "no clear message for a wrongly named folder"

cp -r "$work/a" "$work/b"
"$tool" settings "$work/a/Veldmix" >/dev/null || fail "veldmix-tool settings failed"
XDG_CONFIG_HOME="$work/config-b" "$tool" settings "$work/b/Veldmix" >/dev/null ||
  fail "veldmix-tool settings failed under another user's configuration"

python3 - "$work" "$password" "$stream_key" <<'EOF'
import configparser, os, re, sys
sys.path.insert(0, sys.argv[1])
import seal
work, password, stream_key = sys.argv[1:4]
problems = []

def read(path):
    ini = configparser.ConfigParser(interpolation=None, strict=True)  # strict: no duplicates
    ini.optionxform = str
    with open(path, encoding="utf-8") as f:
        ini.read_file(f)
    return ini

def expect(ini, section, key, want):
    got = ini.get(section, key, fallback=None)
    if got != want:
        problems.append(f"[{section}] {key}: expected {want!r}, got {got!r}")

a = read(work + "/a/Veldmix/settings.ini")
defaults = {("Look", "Skin"): "Veldmix", ("AI", "Model"): "llama3.2", ("Macros", "Name0"): "ECHO OUT",
            ("Macros", "Script1"): "brake", ("Broadcast", "Host"): "localhost", ("Broadcast", "Bitrate"): "192",
            ("Karaoke", "Message"): "Want to sing? Ask the DJ!", ("Sampler", "Vol31"): "100",
            ("Options", "Language"): "0", ("Tour", "Done"): "0", ("LiveVideo", "Url"): "rtmp://",
            ("Updates", "PendingBuild"): "0", ("LiveVideo", "Key0"): ""}
clamped = {("Audio", "BufferMs"): "50", ("Options", "MixLen"): "2", ("Sampler", "Bank"): "3",
           ("Sampler", "Vol3"): "0", ("Midi", "JogTicks"): "4096", ("Video", "Height"): "1080",
           ("LiveVideo", "Height"): "720", ("Remote", "Port"): "1024", ("Mic", "Gain"): "100",
           ("Broadcast", "Port"): "65534", ("Karaoke", "Dim"): "90", ("Library", "Selected"): "1",
           ("Options", "RecordFormat"): "0"}
kept = {("Audio", "FutureKey"): "kept by every save", ("Session", "Deck0"): "/music/one/a.mp3",
        ("Library", "Count"): "2", ("Library", "Folder1"): "/music/two"}
for (section, key), want in {**defaults, **clamped, **kept}.items():
    expect(a, section, key, want)
if a.has_option("Options", "RecordMp3"):
    problems.append("[Options] RecordMp3 is still written")
if not re.fullmatch(r"[0-9]{4}", a.get("Remote", "Pin", fallback="")):
    problems.append(f"[Remote] Pin is not four digits: {a.get('Remote', 'Pin', fallback=None)!r}")

for (section, key), plain in {("Broadcast", "Password"): password, ("LiveVideo", "Key2"): stream_key}.items():
    stored = a.get(section, key, fallback="")
    if not re.fullmatch(r"[0-9a-f]+", stored):
        problems.append(f"[{section}] {key} is not lowercase hex: {stored!r}")
    elif len(stored) != 2 * (12 + len(plain.encode("utf-8")) + 16):
        problems.append(f"[{section}] {key} has {len(stored)} hex digits, not nonce + text + tag")
    elif seal.open_sealed(work + "/config-a", stored) != plain:
        problems.append(f"[{section}] {key} does not open with this user's key")

# Under another user's key the secrets cannot be read, so they come back empty.
b = read(work + "/b/Veldmix/settings.ini")
expect(b, "Broadcast", "Password", "")
expect(b, "LiveVideo", "Key2", "")
expect(b, "Audio", "BufferMs", "50")

for folder in ("a", "b"):
    for root, _, files in os.walk(f"{work}/{folder}/Veldmix"):
        if "secret.key" in files:
            problems.append(f"a key file lies in the data folder: {root}")

if problems:
    print("settings_configparser: FAIL:\n  " + "\n  ".join(problems), file=sys.stderr)
    sys.exit(1)
print("settings_configparser: ok")
EOF
