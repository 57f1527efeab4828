#!/usr/bin/env python3
"""Writes the status bar's reminder sound, site/sound/remind.wav: a short
two-note chime (16-bit mono PCM, 16 kHz, 0.6 s) computed here, so the sound
is the project's own.

Run:  python3 site/tools/make_sound.py   (standard library only)
The output is deterministic, so the committed file changes only when this
script does.
"""

import math
import os
import struct
import wave

SITE = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
OUT = os.path.join(SITE, "sound", "remind.wav")

RATE = 16000
# (start in seconds, frequency in Hz, length in seconds) of each note.
NOTES = [(0.0, 988.0, 0.35), (0.18, 1319.0, 0.42)]
LENGTH = 0.6
VOLUME = 0.42


def sample(t):
    v = 0.0
    for start, freq, length in NOTES:
        u = t - start
        if 0 <= u < length:
            attack = min(1.0, u / 0.006)
            decay = math.exp(-u * 7.0) * (1.0 - u / length)
            # The fundamental with a soft octave makes a bell-like tone.
            tone = math.sin(2 * math.pi * freq * u) + 0.3 * math.sin(4 * math.pi * freq * u)
            v += attack * decay * tone
    return max(-1.0, min(1.0, v * VOLUME))


def main():
    os.makedirs(os.path.dirname(OUT), exist_ok=True)
    frames = bytearray()
    for i in range(int(RATE * LENGTH)):
        frames += struct.pack("<h", int(round(sample(i / RATE) * 32767)))
    with wave.open(OUT, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(bytes(frames))


if __name__ == "__main__":
    main()
