#!/usr/bin/env python3
"""Writes the hand-made seeds of the fuzz corpora: every mode with and
without swap on a few frame shapes for core_fuzz, typical command lines for
options_fuzz. The fuzzers' own finds are merged in beside them."""
import os
import struct
import sys

here = os.path.dirname(os.path.abspath(__file__))


def core_seed(mode, swap, w, h, spare, top_down, fields=(0, 0, 0, 0, 0, 10, 10, 0x00FF8000)):
    # FilterSettings as the host stores it: a byte, three padding bytes, nine 32-bit fields.
    record = struct.pack('<B3xiiiiiiiiI', swap, mode, *fields)
    # The fuzzer takes its choices from the end of the input, last byte first.
    choices = [w, h, spare + 2, top_down, 1, 1, 0, 1]
    pixels = [0x5A, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77] * 2
    return record + bytes(reversed(choices + pixels))


def write(folder, name, data):
    with open(os.path.join(here, 'corpus', folder, name), 'wb') as f:
        f.write(data)


def main():
    shapes = [(12, 6, 0, 0), (9, 5, 3, 1), (1, 1, 1, 0)]
    fields = {
        202: (6, 0, 0, 0, 0, 10, 10, 0xFF00FF00),
        206: (0, 2, -1, 0, 0, 10, 10, 0),
        207: (0, 0, 0, 1, 2, 3, 2, 0),
    }
    for mode in range(200, 208):
        for swap in (0, 1):
            for i, (w, h, spare, top_down) in enumerate(shapes):
                seed = core_seed(mode, swap, w, h, spare, top_down, fields.get(mode, (0, 0, 0, 0, 0, 10, 10, 0)))
                write('core_fuzz', f'seed-mode{mode}-swap{swap}-{i}', seed)
    command_lines = [
        ['--size', '1280x480', '--mode', 'cropping', '--crop-x', '1', '--crop-y=2', '--crop-width', '639'],
        ['--size=640x480', '--mode=alignment', '--align-horz', '-8', '--align-vert', '+3', '--swap'],
        ['--size', '8x2', '--mode', 'centering', '--center-width', '6', '--fill-color', '0xff8000'],
        ['--size', '641x1', '--mode', 'anaglyph', '--coefficients',
         '0.4561,0.500484,0.176381,-0.0434706,-0.0879388,-0.00155529,-0.0400822,-0.0378246,-0.0157589,'
         '0.378476,0.73364,-0.0184503,-0.0152161,-0.0205971,-0.00546856,-0.0721527,-0.112961,1.2264'],
        ['--size', '4x4', '--mode', 'deinterlace', '--help'],
        ['--mode', 'sbs-to-ab', '--size', '2147483647x2147483647'],
        ['--size', '3X3', '--mode', 'ab-to-sbs', '--crop-height', '-2147483648', '--mode', 'nop'],
    ]
    for i, args in enumerate(command_lines):
        for selector in (1, 2):
            write('options_fuzz', f'seed-{selector}-{i}', bytes([selector]) + '\0'.join(args).encode())
    convert_lines = [
        ['--mode', 'anaglyph', '--swap', '-y', '--codec', 'libx264', '--crf', '18', 'in.mp4', 'out.mkv'],
        ['-q', '--frame', '12', '--mode=cropping', '--crop-x=4', '--', '-in.mp4', 'still.png'],
        ['--help'],
    ]
    for i, args in enumerate(convert_lines):
        write('options_fuzz', f'seed-3-{i}', bytes([3]) + '\0'.join(args).encode())
    texts = [' -12px', '99999999999', '+7', '0xff8000', '123456789', '1e-3', '640x480', 'cropping',
             '1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,nan']
    for i, text in enumerate(texts):
        write('options_fuzz', f'seed-0-{i}', b'\0' + text.encode())


if __name__ == '__main__':
    sys.exit(main())
