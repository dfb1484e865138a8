#!/usr/bin/python3
"""Seals a secret for the settings file the way the program does, for end-to-end tests.

    seal_secret.py CONFIG_HOME TEXT   prints the sealed value (lowercase hex of a 12-byte nonce,
                                      the AES-256-GCM ciphertext and the 16-byte tag), making the
                                      per-user key CONFIG_HOME/Veldmix/secret.key when missing.
    seal_secret.py --open CONFIG_HOME HEX
                                      prints the text a sealed value holds; exits 1 when it does
                                      not open (wrong key, damaged, not sealed).

Through libcrypto itself, so a test's sealed values are checked against the format, not against
the program's own code.
"""
import ctypes
import ctypes.util
import os
import sys

lib = ctypes.CDLL(ctypes.util.find_library("crypto") or "libcrypto.so.3")
P, I = ctypes.c_void_p, ctypes.c_int
lib.EVP_CIPHER_CTX_new.restype = P
lib.EVP_CIPHER_CTX_free.argtypes = [P]
lib.EVP_aes_256_gcm.restype = P
lib.EVP_EncryptInit_ex.argtypes = [P, P, P, ctypes.c_char_p, ctypes.c_char_p]
lib.EVP_EncryptUpdate.argtypes = [P, ctypes.c_char_p, ctypes.POINTER(I), ctypes.c_char_p, I]
lib.EVP_EncryptFinal_ex.argtypes = [P, ctypes.c_char_p, ctypes.POINTER(I)]
lib.EVP_CIPHER_CTX_ctrl.argtypes = [P, I, I, ctypes.c_char_p]
lib.EVP_DecryptInit_ex.argtypes = [P, P, P, ctypes.c_char_p, ctypes.c_char_p]
lib.EVP_DecryptUpdate.argtypes = [P, ctypes.c_char_p, ctypes.POINTER(I), ctypes.c_char_p, I]
lib.EVP_DecryptFinal_ex.argtypes = [P, ctypes.c_char_p, ctypes.POINTER(I)]
GET_TAG, SET_TAG = 0x10, 0x11
KEY_BYTES, NONCE_BYTES, TAG_BYTES = 32, 12, 16


def key_of(config_home):
    path = os.path.join(config_home, "Veldmix", "secret.key")
    if not os.path.exists(path):
        os.makedirs(os.path.dirname(path), mode=0o700, exist_ok=True)
        fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
        os.write(fd, os.urandom(KEY_BYTES))
        os.close(fd)
    with open(path, "rb") as f:
        return f.read()


def seal(key, text):
    nonce, plain = os.urandom(NONCE_BYTES), text.encode("utf-8")
    ctx = lib.EVP_CIPHER_CTX_new()
    out, rest, tag, n = (ctypes.create_string_buffer(len(plain) + 1), ctypes.create_string_buffer(16),
                         ctypes.create_string_buffer(TAG_BYTES), I(0))
    ok = (lib.EVP_EncryptInit_ex(ctx, lib.EVP_aes_256_gcm(), None, key, nonce) == 1 and
          lib.EVP_EncryptUpdate(ctx, out, ctypes.byref(n), plain, len(plain)) == 1 and
          lib.EVP_EncryptFinal_ex(ctx, rest, ctypes.byref(I(0))) == 1 and
          lib.EVP_CIPHER_CTX_ctrl(ctx, GET_TAG, TAG_BYTES, tag) == 1)
    lib.EVP_CIPHER_CTX_free(ctx)
    if not ok:
        sys.exit("seal_secret: sealing failed")
    return (nonce + out.raw[:n.value] + tag.raw).hex()


def unseal(key, hex_text):
    try:
        raw = bytes.fromhex(hex_text)
    except ValueError:
        return None
    if len(raw) < NONCE_BYTES + TAG_BYTES:
        return None
    nonce, body, tag = raw[:NONCE_BYTES], raw[NONCE_BYTES:-TAG_BYTES], raw[-TAG_BYTES:]
    ctx = lib.EVP_CIPHER_CTX_new()
    out, rest, n = ctypes.create_string_buffer(len(body) + 1), ctypes.create_string_buffer(16), I(0)
    ok = (lib.EVP_DecryptInit_ex(ctx, lib.EVP_aes_256_gcm(), None, key, nonce) == 1 and
          lib.EVP_DecryptUpdate(ctx, out, ctypes.byref(n), body, len(body)) == 1 and
          lib.EVP_CIPHER_CTX_ctrl(ctx, SET_TAG, TAG_BYTES, tag) == 1 and
          lib.EVP_DecryptFinal_ex(ctx, rest, ctypes.byref(I(0))) == 1)
    lib.EVP_CIPHER_CTX_free(ctx)
    return out.raw[:n.value].decode("utf-8") if ok else None


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "--open":
        text = unseal(key_of(sys.argv[2]), sys.argv[3])
        if text is None:
            sys.exit(1)
        print(text)
        sys.exit(0)
    if len(sys.argv) != 3:
        sys.exit("usage: seal_secret.py CONFIG_HOME TEXT")
    print(seal(key_of(sys.argv[1]), sys.argv[2]))
