#!/usr/bin/env python3
"""tamberlit-cli --to .gif read back by Pillow, a decoder of its own: size,
palette mode, transparency exactly where alpha is below the threshold, and
the source's own colours where they fit in the palette."""
import os
import subprocess
import sys
import tempfile

try:
    from PIL import Image
except ImportError:
    # Debian's python3-pil belongs to Debian's Python, which another python3
    # first on the PATH (pyenv, a virtual environment) does not see.
    SYSTEM_PYTHON = "/usr/bin/python3"
    if os.path.exists(SYSTEM_PYTHON) and os.path.realpath(sys.executable) != os.path.realpath(SYSTEM_PYTHON):
        os.execv(SYSTEM_PYTHON, [SYSTEM_PYTHON] + sys.argv)
    print("SKIP: Pillow is missing (Debian: python3-pil)")
    sys.exit(77)

CLI = sys.argv[1]
WIDTH, HEIGHT = 23, 11


def source_pixels():
    # Ten colours; alpha walks round values on both sides of 128.
    for y in range(HEIGHT):
        for x in range(WIDTH):
            c = (x // 3 + y) % 10
            yield (c * 25, 200 - c * 13, (c * 71) % 256, (x * 29 + y * 7) % 256)


def check(gif_path, pixels, threshold, exact):
    with Image.open(gif_path) as gif:
        assert gif.format == "GIF" and gif.info.get("version") == b"GIF89a", gif.info
        assert gif.size == (WIDTH, HEIGHT), gif.size
        assert gif.mode == "P", gif.mode
        transparent = gif.info.get("transparency")
        palette = gif.getpalette()
        indices = list(gif.getdata())
    any_transparent = False
    for i, (index, (r, g, b, a)) in enumerate(zip(indices, pixels)):
        if a < threshold:
            any_transparent = True
            assert index == transparent, (gif_path, i, index, transparent)
            continue
        assert index != transparent, (gif_path, i)
        assert 3 * index + 2 < len(palette), (gif_path, i, index)
        if exact:
            assert tuple(palette[3 * index:3 * index + 3]) == (r, g, b), (gif_path, i)
    if not any_transparent:
        assert transparent is None, (gif_path, transparent)


def main():
    pixels = list(source_pixels())
    with tempfile.TemporaryDirectory() as folder:
        source = os.path.join(folder, "a.png")
        image = Image.new("RGBA", (WIDTH, HEIGHT))
        image.putdata(pixels)
        image.save(source)
        cases = [
            ([], 128, True),
            (["--dither", "floyd-steinberg"], 128, True),
            (["--colors", "16", "--alpha-threshold", "0"], 0, True),
            (["--alpha-threshold", "255", "--palette", "cube", "--dither", "burkes"], 255, False),
            (["--palette", "mono", "--alpha-threshold", "60"], 60, False),
        ]
        for options, threshold, exact in cases:
            run = subprocess.run([CLI, "--to", ".gif", "-q", *options, source], capture_output=True, text=True)
            assert run.returncode == 0, (options, run.stdout, run.stderr)
            check(os.path.join(folder, "a.gif"), pixels, threshold, exact)
    print("ok")


main()
