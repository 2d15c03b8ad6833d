#!/usr/bin/env python3
"""Synthesises the two cue sounds played after a screenshot is filed.

Writes glass.wav and ping.wav (44.1 kHz, 16-bit, mono) into resources/sounds/, or into the
folder given as the only argument. Pure arithmetic, no randomness: the same bytes every run.
"""

import math
import os
import struct
import sys
import wave

RATE = 44100
PEAK_DBFS = -3.0
ATTACK_S = 0.005  # raised-cosine fade-in, so the first sample does not click
RELEASE_S = 0.010  # fade-out, so cutting the tail does not click either


def render(duration_s, partials):
    """partials: (frequency Hz, amplitude, decay time constant s) triples."""
    count = round(duration_s * RATE)
    attack = round(ATTACK_S * RATE)
    release = round(RELEASE_S * RATE)
    samples = []
    for n in range(count):
        t = n / RATE
        value = sum(a * math.exp(-t / tau) * math.sin(2 * math.pi * f * t) for f, a, tau in partials)
        if n < attack:
            value *= 0.5 - 0.5 * math.cos(math.pi * n / attack)
        if n >= count - release:
            value *= 0.5 - 0.5 * math.cos(math.pi * (count - 1 - n) / release)
        samples.append(value)
    peak = max(abs(s) for s in samples)
    scale = 32767 * 10 ** (PEAK_DBFS / 20) / peak
    return [round(s * scale) for s in samples]


def write(path, samples):
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(struct.pack("<%dh" % len(samples), *samples))


CUES = {
    # A bright chime: E6 with a quieter B6 above it that fades first.
    "glass.wav": (0.35, [(1318.51, 1.0, 0.090), (1975.53, 0.55, 0.060)]),
    # A single short ping at A6.
    "ping.wav": (0.25, [(1760.0, 1.0, 0.045)]),
}


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "resources", "sounds")
    os.makedirs(target, exist_ok=True)
    for name, (duration, partials) in CUES.items():
        write(os.path.join(target, name), render(duration, partials))


if __name__ == "__main__":
    main()
