/* colourer.c: the yardstick for the playbook runner. A plain C filter that
 * applies the runner's line table to standard input with buffered stdio
 * (fgets and fputs through 64 KiB buffers) and writes the same bytes the
 * runner would: "│  ", the styles, the line, reset, a line feed.
 *
 * Lines: up to a line feed, without it and without a carriage return just
 * before it; the last line counts without a line feed. Empty lines and lines
 * that are not valid UTF-8 are dropped. Lines may hold no NUL byte (fgets). */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define BUF (64 * 1024)

static const char *const RAIL = "\xe2\x94\x82  ";
static const char *const RESET = "\x1b[0m";

/* Length of the UTF-8 character at s (n bytes left), or 0 when invalid;
 * *cp receives its value. Overlong forms, surrogates and values above
 * U+10FFFF are invalid. */
static size_t decode(const unsigned char *s, size_t n, unsigned long *cp) {
  unsigned char b = s[0], lo = 0x80, hi = 0xBF;
  size_t len, i;
  if (b < 0x80) {
    *cp = b;
    return 1;
  }
  if (b < 0xC2) return 0;
  if (b < 0xE0) len = 2;
  else if (b < 0xF0) {
    len = 3;
    if (b == 0xE0) lo = 0xA0;
    if (b == 0xED) hi = 0x9F;
  } else if (b < 0xF5) {
    len = 4;
    if (b == 0xF0) lo = 0x90;
    if (b == 0xF4) hi = 0x8F;
  } else
    return 0;
  if (n < len) return 0;
  *cp = b & (0xFF >> (len + 1));
  for (i = 1; i < len; i++) {
    unsigned char c = s[i];
    if (c < (i == 1 ? lo : 0x80) || c > (i == 1 ? hi : 0xBF)) return 0;
    *cp = (*cp << 6) | (c & 0x3F);
  }
  return len;
}

static int valid(const char *s, size_t n) {
  size_t i = 0, len;
  unsigned long cp;
  while (i < n) {
    if ((unsigned char)s[i] < 0x80) {
      i++;
      continue;
    }
    if (!(len = decode((const unsigned char *)s + i, n - i, &cp))) return 0;
    i += len;
  }
  return 1;
}

static int white(unsigned long c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

static int starts(const char *t, size_t n, const char *p) {
  size_t k = strlen(p);
  return n >= k && memcmp(t, p, k) == 0;
}

static void emit(const char *line, size_t n) {
  const char *t = line, *style = "\x1b[2m";
  size_t tn = n, len;
  unsigned long cp;
  while (tn && (len = decode((const unsigned char *)t, tn, &cp)) && white(cp)) t += len, tn -= len;
  if (starts(t, tn, "PLAY RECAP") || starts(t, tn, "PLAY [") || starts(t, tn, "PLAY *"))
    style = "\x1b[1m\x1b[1;37m";
  else if (starts(t, tn, "TASK ["))
    style = "\x1b[1;36m";
  else if (starts(t, tn, "ok:"))
    style = "\x1b[1;32m";
  else if (starts(t, tn, "changed:"))
    style = "\x1b[1;33m";
  else if (starts(t, tn, "failed:") || starts(t, tn, "fatal:"))
    style = "\x1b[1;31m";
  else if (starts(t, tn, "skipping:"))
    style = "\x1b[2m";
  else if (starts(t, tn, "unreachable:"))
    style = "\x1b[1;31m";
  else if (memmem(line, n, "ok=", 3) && memmem(line, n, "failed=", 7))
    style = "\x1b[1m\x1b[1;33m";
  fputs(RAIL, stdout);
  fputs(style, stdout);
  fwrite(line, 1, n, stdout);
  fputs(RESET, stdout);
  putc('\n', stdout);
}

static void deliver(char *line, size_t n, int ended_by_lf) {
  if (ended_by_lf && n && line[n - 1] == '\r') n--;
  if (n && valid(line, n)) emit(line, n);
}

int main(void) {
  static char in_buf[BUF], out_buf[BUF], chunk[BUF];
  char *line = NULL;
  size_t cap = 0, len = 0;
  setvbuf(stdin, in_buf, _IOFBF, sizeof in_buf);
  setvbuf(stdout, out_buf, _IOFBF, sizeof out_buf);
  while (fgets(chunk, sizeof chunk, stdin)) {
    size_t k = strlen(chunk);
    int lf = k && chunk[k - 1] == '\n';
    if (lf && len == 0) {
      deliver(chunk, k - 1, 1);
      continue;
    }
    /* A line longer than the chunk is gathered whole. */
    if (len + k + 1 > cap) {
      cap = (len + k + 1) * 2;
      line = realloc(line, cap);
      if (!line) return 1;
    }
    memcpy(line + len, chunk, k);
    len += k;
    if (lf) {
      deliver(line, len - 1, 1);
      len = 0;
    }
  }
  if (len) deliver(line, len, 0);
  free(line);
  return fflush(stdout) != 0;
}
