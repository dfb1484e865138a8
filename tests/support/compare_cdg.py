# Counts the pixels of a CD+G picture's visible window (columns 6..293, rows 12..203) that differ
# between FFmpeg's 300 x 216 RGB frame and an enlarged RGB screen of W x H where cell (i, j) is read
# at (SCALE i + AT, SCALE j + AT). Prints the count, or "size" when a frame has the wrong size.
# usage: python3 compare_cdg.py REF.rgb SCREEN.rgb W H SCALE AT
import sys

ref = open(sys.argv[1], "rb").read()
screen = open(sys.argv[2], "rb").read()
width, height, scale, at = (int(v) for v in sys.argv[3:7])
if len(ref) != 300 * 216 * 3 or len(screen) != width * height * 3:
    print("size")
    sys.exit()
n = 0
for j in range(12, 204):
    for i in range(6, 294):
        o = 3 * ((scale * j + at) * width + scale * i + at)
        n += ref[3 * (j * 300 + i):3 * (j * 300 + i) + 3] != screen[o:o + 3]
print(n)
