// Reads, from the X server's screen, which frame of a video made by avsync_check.sh is shown:
// a row of 16 blocks along the top of its picture tells the frame's number, bits 0-11 in
// blocks 0-11 (white = 1) and bits 0-3 again, inverted, in blocks 12-15 (a check against a
// picture caught while it changes).
//
//   screen_frames X Y W H SECONDS
//
// X, Y, W, H: the video area on the screen; the 1280 x 720 picture lies in it at its aspect
// ratio, centred. Prints "MS N" lines for SECONDS seconds, about every 8 ms: MS the
// monotonic clock (CLOCK_MONOTONIC) when the screen was read, in ms, N the frame number, or -1
// when the blocks do not read as one. Exits 2 when the screen cannot be read.

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <stdio.h>
#include <stdlib.h>
#include <time.h>

enum { BLOCKS = 16, SOURCE_W = 1280, SOURCE_H = 720, BLOCK_W = 80, BLOCK_H = 40 };

static double NowMs(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

int main(int argc, char** argv) {
  if (argc != 6) {
    fprintf(stderr, "usage: screen_frames X Y W H SECONDS\n");
    return 2;
  }
  const int x = atoi(argv[1]), y = atoi(argv[2]), w = atoi(argv[3]), h = atoi(argv[4]);
  const double seconds = atof(argv[5]);
  Display* dpy = XOpenDisplay(NULL);
  if (!dpy || w <= 0 || h <= 0) {
    fprintf(stderr, "screen_frames: no X display or an empty area\n");
    return 2;
  }
  const Window root = DefaultRootWindow(dpy);
  // The picture's place in the area, and the centres of its blocks on one line of the screen.
  const double scale =
      (double)w / SOURCE_W < (double)h / SOURCE_H ? (double)w / SOURCE_W : (double)h / SOURCE_H;
  const double left = x + (w - SOURCE_W * scale) / 2;
  const int row = (int)(y + (h - SOURCE_H * scale) / 2 + BLOCK_H / 2 * scale);
  int at[BLOCKS];
  for (int k = 0; k < BLOCKS; ++k) at[k] = (int)(left + (BLOCK_W * k + BLOCK_W / 2) * scale);
  const int from = at[0], width = at[BLOCKS - 1] - at[0] + 1;

  const double start = NowMs();
  for (;;) {
    const double t = NowMs();
    if (t - start > seconds * 1e3) break;
    XImage* line = XGetImage(dpy, root, from, row, (unsigned)width, 1, AllPlanes, ZPixmap);
    if (!line) {
      fprintf(stderr, "screen_frames: the screen cannot be read\n");
      return 2;
    }
    unsigned bits = 0;
    for (int k = 0; k < BLOCKS; ++k) {
      const unsigned long p = XGetPixel(line, at[k] - from, 0);
      const unsigned r = (p >> 16) & 0xff, g = (p >> 8) & 0xff, b = p & 0xff;
      if (r + g + b > 3 * 128) bits |= 1u << k;
    }
    XDestroyImage(line);
    const unsigned number = bits & 0xfff;
    const int n = ((~number) & 0xf) == (bits >> 12) ? (int)number : -1;
    printf("%.2f %d\n", t, n);
    // Every 8 ms or so: often enough to see each frame, seldom enough to leave the player
    // (and the X server) the processor.
    struct timespec pause = {0, 8 * 1000 * 1000};
    nanosleep(&pause, NULL);
  }
  XCloseDisplay(dpy);
  return 0;
}
