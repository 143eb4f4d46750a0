/* The floor for showing a subtitle file: libass reads the same ASS file into its track and
 * frees it, as a whole process. usage: libass_load FILE */
#include <ass/ass.h>
#include <stdarg.h>
#include <stdio.h>

static void Quiet(int level, const char* fmt, va_list args, void* data) {
  (void)level;
  (void)fmt;
  (void)args;
  (void)data;
}

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  ASS_Library* lib = ass_library_init();
  if (!lib) return 1;
  ass_set_message_cb(lib, Quiet, NULL);
  ASS_Track* track = ass_read_file(lib, argv[1], NULL);
  if (!track) {
    fprintf(stderr, "libass_load: cannot read %s\n", argv[1]);
    ass_library_done(lib);
    return 1;
  }
  printf("%d events\n", track->n_events);
  ass_free_track(track);
  ass_library_done(lib);
  return 0;
}
