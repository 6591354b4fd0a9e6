#!/usr/bin/env python3
"""Prints the vertical centre of each line of dark text in a PPM picture (P6) read from stdin, one
per line, top to bottom: the rows of a list as a user sees them."""
import sys


def main():
    data = sys.stdin.buffer.read()
    fields = []
    pos = 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    pos += 1
    if fields[0] != b"P6" or int(fields[3]) > 255:
        sys.exit("not an 8-bit P6 picture")
    width, height = int(fields[1]), int(fields[2])
    pixels = data[pos:pos + width * height * 3]
    inked = []
    for y in range(height):
        row = pixels[y * width * 3:(y + 1) * width * 3]
        dark = sum(1 for x in range(width) if max(row[3 * x:3 * x + 3]) < 110)
        inked.append(dark > 0)
    y = 0
    while y < height:
        if inked[y]:
            top = y
            while y < height and inked[y]:
                y += 1
            print((top + y - 1) // 2)
        y += 1


main()
