/* The floor for adjusting a WAV's loudness: read it in large blocks, multiply every 16-bit
 * sample by one gain, clamp, and write a new file. usage: gain_floor IN OUT */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  FILE* in = fopen(argv[1], "rb");
  FILE* out = fopen(argv[2], "wb");
  if (!in || !out) return 1;
  enum { N = 1 << 20 };
  static int16_t buf[N];
  unsigned char header[44];
  if (fread(header, 1, 44, in) != 44) return 1;
  fwrite(header, 1, 44, out);
  const double gain = 1.37;
  size_t got;
  while ((got = fread(buf, 2, N, in)) > 0) {
    for (size_t i = 0; i < got; ++i) {
      double v = buf[i] * gain;
      int32_t x = (int32_t)v;
      buf[i] = (int16_t)(x > 32767 ? 32767 : x < -32767 ? -32767 : x);
    }
    fwrite(buf, 2, got, out);
  }
  return fclose(out) != 0;
}
