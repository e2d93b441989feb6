#!/usr/bin/env python3
"""Writes finish.wav, the sound played when a video is finished: a soft two-note chime, 16-bit mono PCM.

    python3 resources/make_finish_wav.py [OUTPUT]    (default: finish.wav beside this script)
"""
import math
import os
import struct
import sys
import wave

RATE = 22050
LENGTH = 0.9  # seconds
# (start in seconds, frequency in Hz): a rising fourth.
NOTES = [(0.0, 659.25), (0.18, 880.0)]


def sample(t):
    value = 0.0
    for start, frequency in NOTES:
        if t < start:
            continue
        age = t - start
        attack = min(1.0, age / 0.008)
        decay = math.exp(-age * 5.5)
        # A bell-like tone: the fundamental with two quieter overtones.
        tone = (math.sin(2 * math.pi * frequency * age)
                + 0.35 * math.sin(2 * math.pi * 2 * frequency * age)
                + 0.12 * math.sin(2 * math.pi * 3 * frequency * age))
        value += attack * decay * tone
    return value * 0.28


def main():
    output = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "finish.wav")
    count = int(RATE * LENGTH)
    fade = int(RATE * 0.05)
    frames = bytearray()
    for i in range(count):
        value = sample(i / RATE)
        if i >= count - fade:
            value *= (count - i) / fade
        frames += struct.pack("<h", max(-32767, min(32767, int(round(value * 32767)))))
    with wave.open(output, "wb") as file:
        file.setnchannels(1)
        file.setsampwidth(2)
        file.setframerate(RATE)
        file.writeframes(bytes(frames))


if __name__ == "__main__":
    main()
