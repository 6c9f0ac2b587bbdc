#!/usr/bin/env python3
"""Renders random board scripts with two builds of vorla and its module file and compares the
raw output and the report byte for byte. Meant for changes that must not change the sound:

    bench/compare_random.py BASE_BUILD_DIR NEW_BUILD_DIR [--count 300] [--seed 1] [--keep DIR]
                            [--runner wine]

The build folders hold vorla (or vorla.exe, run through --runner) and Vorla.vyx.

Each script mixes random FM, PSG and tone-generator writes (with bursts that set up sounding
voices), waits, 'rate' lines across 8000-192000 Hz, 'apply' lines and board resets; each is
rendered with a random --chunk between 1 and 4096. Every run gets a fresh copy of the program
and module, so that the settings file starts from the defaults. Exits 1 on the first mismatch,
leaving the script in --keep (default: a temporary folder that is printed)."""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile


def fm(reg, val):
    return ['out 0x88 0x%02x' % reg, 'out 0x89 0x%02x' % val]


def fm_voice(r):
    """A sounding FM channel: pan, feedback, algorithm, pitch, LFO sensitivity, four operators
    and a key-on of a random mask."""
    ch = r.randrange(8)
    out = fm(0x20 + ch, r.choice([0x40, 0x80, 0xC0, 0xC0, 0x00]) | r.randrange(64))
    out += fm(0x28 + ch, r.randrange(128))
    out += fm(0x30 + ch, r.randrange(256))
    out += fm(0x38 + ch, r.randrange(256) if r.random() < 0.5 else 0)
    for slot in range(4):
        base = slot * 8 + ch
        out += fm(0x40 + base, r.randrange(128))
        out += fm(0x60 + base, r.choice([0, 0x10, 0x20, r.randrange(128)]))
        out += fm(0x80 + base, r.randrange(256))
        out += fm(0xA0 + base, r.randrange(256))
        out += fm(0xC0 + base, r.randrange(256) if r.random() < 0.5 else r.randrange(4) << 6)
        out += fm(0xE0 + base, r.randrange(256))
    out += fm(0x08, (r.randrange(16) << 3) | ch)
    return out


def fm_random(r):
    reg = r.choice([0x01, 0x08, 0x0F, 0x10, 0x11, 0x12, 0x14, 0x18, 0x19, 0x19, 0x1B,
                    r.randrange(0x20, 0x40), r.randrange(0x40, 0x100), r.randrange(0x100)])
    val = r.randrange(256)
    if reg == 0x01:
        val = r.choice([0, 2, val])
    if reg == 0x14 and r.random() < 0.7:
        val &= 0x7F  # CSM only now and then
    return fm(reg, val)


def psg(k, reg, val):
    return ['out 0x%02x 0x%02x' % (0xA0 + 2 * k, reg), 'out 0x%02x 0x%02x' % (0xA1 + 2 * k, val)]


def psg_voice(r):
    """A sounding PSG: periods, mixer, levels (some from the envelope), envelope shape."""
    k = r.randrange(4)
    out = []
    for reg in range(6):
        out += psg(k, reg, r.randrange(256) if reg % 2 == 0 else r.choice([0, 0, 1, r.randrange(16)]))
    out += psg(k, 6, r.randrange(32))
    out += psg(k, 7, r.randrange(64) | r.choice([0, 0xC0]))
    for reg in (8, 9, 10):
        out += psg(k, reg, r.choice([0x10, 0x0F, r.randrange(16), r.randrange(256)]))
    out += psg(k, 11, r.randrange(256))
    out += psg(k, 12, r.choice([0, 0, 1, r.randrange(256)]))
    out += psg(k, 13, r.randrange(16))
    return out


def tone(r):
    v = r.randrange(4)
    out = ['out 0x0f 0x%02x' % ((v << 6) | r.choice([0x00, 0x10, 0x20, 0x30, 0x36]))]
    for _ in range(r.randrange(3)):
        out.append('out 0x%02x 0x%02x' % (0x0C + r.randrange(3), r.randrange(256)))
    if r.random() < 0.5:
        out.append('out 0x02 0x%02x' % r.choice([0x08, 0x00, r.randrange(256)]))
    return out


def script(r):
    lines = []
    if r.random() < 0.5:
        lines.append('rate %d' % r.randint(8000, 192000))
    for _ in range(r.randint(3, 6)):
        lines += fm_voice(r)
    for _ in range(r.randint(1, 4)):
        lines += psg_voice(r)
    lines += tone(r)
    lines.append('out 0x02 0x08')
    for _ in range(r.randint(10, 60)):
        x = r.random()
        if x < 0.25:
            lines.append('wait %d' % r.choice([r.randrange(64), r.randrange(3000),
                                               r.randrange(20000)]))
        elif x < 0.35:
            lines += fm_voice(r)
        elif x < 0.55:
            lines += fm_random(r)
        elif x < 0.62:
            lines += psg_voice(r)
        elif x < 0.75:
            lines += psg(r.randrange(4), r.randrange(16), r.randrange(256))
        elif x < 0.82:
            lines += tone(r)
        elif x < 0.88:
            lines.append('rate %d' % r.choice([r.randint(8000, 192000), 44100, 8000, 192000]))
        elif x < 0.93:
            vols = [r.randint(-40, 20) for _ in range(8)]
            outs = [1 if r.random() < 0.8 else 0 for _ in range(8)]
            lines.append('apply ' + ' '.join(map(str, vols + outs + [0])))
        elif x < 0.97:
            lines.append(r.choice(['in 0x89', 'in 0xa1', 'in 0xa7']))
        else:
            lines.append('out 0x108 0x00')  # board reset
    lines.append('wait %d' % r.randrange(5000))
    return '\n'.join(lines) + '\n'


def render(build, work, text, chunk, runner):
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    program = 'vorla.exe' if os.path.exists(os.path.join(build, 'vorla.exe')) else 'vorla'
    for name in (program, 'Vorla.vyx'):
        shutil.copy2(os.path.join(build, name), work)
    with open(os.path.join(work, 's.board'), 'w') as f:
        f.write(text)
    command = ([runner, program] if runner else ['./' + program]) + [
        'render', 's.board', '--raw', 'out.raw', '--report', 'report.txt', '--chunk', str(chunk)]
    proc = subprocess.run(command, cwd=work, capture_output=True, text=True)
    if proc.returncode != 0:
        sys.exit('vorla failed in %s: %s' % (work, proc.stderr))
    with open(os.path.join(work, 'out.raw'), 'rb') as f:
        raw = f.read()
    with open(os.path.join(work, 'report.txt'), 'rb') as f:
        return raw, f.read()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('base')
    ap.add_argument('new')
    ap.add_argument('--count', type=int, default=300)
    ap.add_argument('--seed', type=int, default=1)
    ap.add_argument('--keep')
    ap.add_argument('--runner', help='program that runs vorla, e.g. wine')
    a = ap.parse_args()
    keep = a.keep or tempfile.mkdtemp(prefix='compare_random.')
    rates, chunks, frames = set(), [], 0
    for i in range(a.count):
        r = random.Random(a.seed * 1000003 + i)
        text = script(r)
        chunk = r.choice([1, 2, 3, 7, 64, 1024, 4096, r.randint(1, 4096), r.randint(1, 300)])
        rates.update(int(l.split()[1]) for l in text.splitlines() if l.startswith('rate'))
        chunks.append(chunk)
        base = render(os.path.abspath(a.base), os.path.join(keep, 'base'), text, chunk, a.runner)
        new = render(os.path.abspath(a.new), os.path.join(keep, 'new'), text, chunk, a.runner)
        frames += len(base[0]) // 8
        if base != new:
            with open(os.path.join(keep, 'failing.board'), 'w') as f:
                f.write(text)
            print('MISMATCH script %d (chunk %d): %s/failing.board' % (i, chunk, keep))
            sys.exit(1)
    shutil.rmtree(keep, ignore_errors=True)
    print('%d scripts identical: %d frames, rates %d-%d (%d distinct), chunks %d-%d' %
          (a.count, frames, min(rates | {44100}), max(rates | {44100}), len(rates),
           min(chunks), max(chunks)))


if __name__ == '__main__':
    main()
