/* A minimal host: links the installed keymux, creates a runtime, checks the
 * backend, types a chord and reads it back as the library's own keys. */
#include <keymux/keymux.h>
#include <stdio.h>
#include <string.h>

int main(void) {
  KmxCreateOptions options = {KMX_ABI_VERSION, KMX_RAW_KEYS};
  KmxHandle handle = NULL;
  char text[256];
  const uint32_t shift = 0xE1;
  KmxEvent event;
  int own = 0;

  if (kmx_abi_version() != KMX_ABI_VERSION) return 10;
  if (kmx_create(&options, &handle) != KMX_OK) {
    kmx_last_init_error(text, sizeof text);
    fprintf(stderr, "host: kmx_create: %s\n", text);
    return 11;
  }
  kmx_backend(handle, text, sizeof text);
  if (strcmp(text, "x11") != 0) return 12;
  if (kmx_send_chord(handle, &shift, 1, 0x04) != KMX_OK) {
    kmx_last_error(handle, text, sizeof text);
    fprintf(stderr, "host: kmx_send_chord: %s\n", text);
    return 13;
  }
  while (kmx_poll_event(handle, &event, 500) == KMX_OK)
    if (event.kind == KMX_EVENT_KEY && (event.flags & KMX_FLAG_SELF_INJECTED)) ++own;
  kmx_stop(handle);
  kmx_destroy(handle);
  printf("host: %d own key events\n", own);
  return own == 4 ? 0 : 14;
}
