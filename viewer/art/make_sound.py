#!/usr/bin/env python3
"""Makes camera1.wav, the viewer's capture sound: a shutter's two clicks, 8-bit mono at 11,025 Hz
(about a fifth of a second), made of decaying noise bursts with a little tone in them."""
import math
import os
import random
import struct
import wave

RATE = 11025
random.seed(1998)
samples = []


def burst(start_ms, length_ms, loudness, pitch):
    first = int(RATE * start_ms / 1000)
    count = int(RATE * length_ms / 1000)
    while len(samples) < first + count:
        samples.append(0.0)
    for i in range(count):
        decay = math.exp(-6.0 * i / count)
        noise = random.uniform(-1.0, 1.0)
        tone = math.sin(2 * math.pi * pitch * i / RATE)
        samples[first + i] += loudness * decay * (0.7 * noise + 0.3 * tone)


burst(0, 45, 0.9, 1800)
burst(110, 70, 0.7, 1200)
path = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'camera1.wav')
with wave.open(path, 'wb') as w:
    w.setnchannels(1)
    w.setsampwidth(1)
    w.setframerate(RATE)
    w.writeframes(bytes(max(0, min(255, int(128 + 127 * s))) for s in samples))
