/* A small C host built against the installed header: it links the library,
 * runs a function and a command, and traces a refused connection. */
#include <scriptnet.h>

#include <stdio.h>
#include <string.h>

static char block[SCRIPTNET_BLOCK_SIZE];

static void Event(const char *name) { (void)name; }

static void Trace(void *context, int kind, const char *text) {
  if (kind == SCRIPTNET_TRACE_INFO && strstr(text, "Failed to open output socket 1 "))
    ++*(int *)context;
}

/* Lays the texts into the block, each followed by its NUL. */
static const char *Fill(const char *const *texts, int count) {
  size_t at = 0;
  memset(block, 0, sizeof block);
  for (int i = 0; i < count; ++i) {
    strcpy(block + at, texts[i]);
    at += strlen(texts[i]) + 1;
  }
  return block;
}

int main(void) {
  int32_t kind = 0, size = 0;
  int traced = 0;
  SetTraceProc(Trace, &traced);
  const char *prefix = Init(0, Event, "", &kind, &size);
  const char *version[] = {"VERSION"};
  const char *result = FuncProc(Fill(version, 1));
  const char *get[] = {"HTTP", "GET", "http://127.0.0.1:1/"};
  const int32_t refused = CommandProc(Fill(get, 3));
  printf("%s %d %s %d %d\n", prefix, (int)size, result, (int)refused, traced);
  return 0;
}
