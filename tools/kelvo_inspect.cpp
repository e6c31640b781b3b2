// kelvo-inspect: reads a Kelvo printer stream and prints one line per page
// with the fields of its blocks, checking the framing as it goes.
//
// Usage: kelvo-inspect STREAM
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

static uint32_t BE32(const unsigned char *p)
{
  return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

static unsigned BE16(const unsigned char *p) { return (unsigned)p[0] << 8 | p[1]; }

int main(int argc, char *argv[])
{
  if (argc != 2)
  {
    fprintf(stderr, "Usage: kelvo-inspect STREAM\n");
    return 2;
  }
  FILE *f = fopen(argv[1], "rb");
  if (f == nullptr)
  {
    perror(argv[1]);
    return 1;
  }
  std::vector<unsigned char> s;
  unsigned char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
    s.insert(s.end(), buf, buf + n);
  fclose(f);

  static const unsigned char start[] = {0x1B, 0x1E, 0x00, 0x00, 0x00, 0x0C, 0x00};
  size_t pos = 0;
  int page = 0;
  while (pos < s.size())
  {
    page++;
    if (s.size() - pos < 77 || memcmp(&s[pos], start, sizeof(start)) != 0 || s[pos + 66] != 0x1B ||
        s[pos + 67] != 0xEA)
    {
      fprintf(stderr, "kelvo-inspect: page %d: malformed or truncated page start at byte %zu\n", page, pos);
      return 1;
    }
    const unsigned char *p = &s[pos];
    unsigned copies = p[27], mode = p[36];
    unsigned w = BE16(p + 42), h = BE16(p + 44);
    uint32_t L = BE32(p + 72);
    if (s.size() - pos < 77 + (uint64_t)L + 18)
    {
      fprintf(stderr, "kelvo-inspect: page %d: truncated: %u data bytes announced, %zu present\n", page, L,
              s.size() - pos - 77);
      return 1;
    }
    const unsigned char *e = p + 77 + L;
    if (e[0] != 0x1B || e[1] != 0x23 || e[11] != 0x1B || e[12] != 0x0A)
    {
      fprintf(stderr, "kelvo-inspect: page %d: malformed page end at byte %zu\n", page, pos + 77 + L);
      return 1;
    }
    printf("page %d: %ux%u copies %u mode 0x%02X data %u bytes\n", page, w, h, copies, mode, L);
    pos += 77 + (size_t)L + 18;
  }
  if (page == 0)
  {
    fprintf(stderr, "kelvo-inspect: the stream holds no page\n");
    return 1;
  }
  return 0;
}
