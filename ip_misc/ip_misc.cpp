#include "ip_misc/ip_misc.h"

#include "ip_misc/Errors.h"
#include "platform/Clock.h"
#include "platform/Memory.h"
#include "platform/Socket.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <type_traits>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <tmmintrin.h>
#endif

namespace {

constexpr char Base64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Decoder classes: 0..63 an alphabet character, Pad the "=" that ends a
// line's data, Break a line end, Skip anything else.
enum : unsigned char { Pad = 0x40, Break = 0x41, Skip = 0x80 };

struct Base64Tables {
  std::array<unsigned char, 256> Value{};
  // The four positions of a group, pre-shifted, so that a group of four
  // valid characters is four loads and three ORs; Invalid marks the rest.
  static constexpr std::uint32_t Invalid = 0x01000000u;
  std::array<std::uint32_t, 256> At0{}, At1{}, At2{}, At3{};
  // Two 6-bit values to their two characters at once.
  std::array<std::uint16_t, 4096> Pair{};

  constexpr Base64Tables() {
    for (auto &v : Value)
      v = Skip;
    for (unsigned i = 0; i < 64; ++i)
      Value[static_cast<unsigned char>(Base64Alphabet[i])] = static_cast<unsigned char>(i);
    Value['='] = Pad;
    Value['\r'] = Break;
    Value['\n'] = Break;
    for (unsigned c = 0; c < 256; ++c) {
      const unsigned v = Value[c];
      if (v < 64) {
        At0[c] = v << 18;
        At1[c] = v << 12;
        At2[c] = v << 6;
        At3[c] = v;
      } else {
        At0[c] = At1[c] = At2[c] = At3[c] = Invalid;
      }
    }
    // The first character in the high byte; EncodeInto writes the two one
    // at a time, so the order in memory never matters.
    for (unsigned i = 0; i < 4096; ++i) {
      Pair[i] = static_cast<std::uint16_t>(
          static_cast<unsigned char>(Base64Alphabet[i >> 6]) << 8 |
          static_cast<unsigned char>(Base64Alphabet[i & 63]));
    }
  }
};

constexpr Base64Tables Tables{};

// Encodes count bytes (any number) into out, which must have room for
// 4 * ((count + 2) / 3) characters; returns the number written.
std::size_t EncodeInto(const unsigned char *in, std::size_t count, char *out) {
  char *o = out;
  std::size_t i = 0;
  for (; i + 3 <= count; i += 3) {
    const std::uint32_t g = static_cast<std::uint32_t>(in[i]) << 16 |
                            static_cast<std::uint32_t>(in[i + 1]) << 8 | in[i + 2];
    const std::uint16_t hi = Tables.Pair[g >> 12];
    const std::uint16_t lo = Tables.Pair[g & 0xFFF];
    o[0] = static_cast<char>(hi >> 8);
    o[1] = static_cast<char>(hi & 0xFF);
    o[2] = static_cast<char>(lo >> 8);
    o[3] = static_cast<char>(lo & 0xFF);
    o += 4;
  }
  const std::size_t rest = count - i;
  if (rest > 0) {
    const std::uint32_t b0 = in[i];
    const std::uint32_t b1 = rest > 1 ? in[i + 1] : 0;
    o[0] = Base64Alphabet[b0 >> 2];
    o[1] = Base64Alphabet[((b0 & 3) << 4) | (b1 >> 4)];
    o[2] = rest > 1 ? Base64Alphabet[(b1 & 15) << 2] : '=';
    o[3] = '=';
    o += 4;
  }
  return static_cast<std::size_t>(o - out);
}

// Where a decoding that goes on over several calls stands.
struct DecodeState {
  std::uint32_t Bits = 0;
  int NBits = 0;
  bool Stopped = false; // after "=", until the line ends
};

// The decoder's one loop, with Block: a function that decodes 16
// characters at once (see DecodeBlock16) or nullptr.
struct NoBlocks {
  int operator()(const unsigned char *, unsigned char *) const { return 0; }
};

template <typename Block>
[[gnu::always_inline]] inline std::size_t DecodeCore(const unsigned char *in, std::size_t size,
                                                     unsigned char *out, DecodeState &state,
                                                     std::size_t *padEnd, Block block) {
  constexpr bool blocks = !std::is_same_v<Block, NoBlocks>;
  unsigned char *o = out;
  std::size_t i = 0;
  std::uint32_t bits = state.Bits;
  int nbits = state.NBits;
  bool stopped = state.Stopped;
  while (i < size) {
    if (nbits == 0 && !stopped) {
      // Room: 3 * (size / 4) + 3 bytes in all, of which 3 * i / 4 at most
      // are used; with 20 characters left at least 15 remain for a block.
      bool atOther = false;
      if constexpr (blocks) {
        while (i + 20 <= size) {
          const int valid = block(in + i, o);
          o += 3 * (valid / 4);
          i += static_cast<std::size_t>(4 * (valid / 4));
          if (valid < 16) {
            atOther = true;
            break;
          }
        }
      }
      // Whole groups of four alphabet characters, the common case.
      while (!atOther && i + 4 <= size) {
        const std::uint32_t g = Tables.At0[in[i]] | Tables.At1[in[i + 1]] |
                                Tables.At2[in[i + 2]] | Tables.At3[in[i + 3]];
        if (g & Base64Tables::Invalid)
          break;
        o[0] = static_cast<unsigned char>(g >> 16);
        o[1] = static_cast<unsigned char>(g >> 8);
        o[2] = static_cast<unsigned char>(g);
        o += 3;
        i += 4;
      }
      if (i >= size)
        break;
    }
    const unsigned char v = Tables.Value[in[i++]];
    if (v == Break) {
      // A line end is usually CR LF: both at once.
      stopped = false;
      while (i < size && Tables.Value[in[i]] == Break)
        ++i;
    } else if (stopped || v == Skip) {
      continue;
    } else if (v == Pad) {
      stopped = true;
      bits = 0;
      nbits = 0;
      if (padEnd) {
        *padEnd = i;
        break;
      }
    } else {
      bits = (bits << 6) | v;
      nbits += 6;
      if (nbits >= 8) {
        nbits -= 8;
        *o++ = static_cast<unsigned char>(bits >> nbits);
        bits &= (1u << nbits) - 1;
      }
    }
  }
  state = {bits, nbits, stopped};
  return static_cast<std::size_t>(o - out);
}

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define SCRIPTNET_BASE64_SSSE3 1

// Sixteen characters at once with SSSE3, which every x86 processor of the
// last fifteen years has (asked of the processor once; the scalar loop
// serves the others). Decodes the block at in into 12 bytes at out (which
// must have room for all 12) and returns how many of its characters, from
// the first, are alphabet characters: only the groups of four among them
// count, the rest of what was written is overwritten later.
[[gnu::always_inline]] inline __attribute__((target("ssse3"))) int
DecodeBlock16(const unsigned char *in, unsigned char *out) {
  const __m128i text = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in));
  const __m128i nibble = _mm_set1_epi8(0x0F);
  const __m128i high = _mm_and_si128(_mm_srli_epi32(text, 4), nibble);
  const __m128i low = _mm_and_si128(text, nibble);
  // A character is valid when its low nibble is allowed with its high one.
  // The high nibbles fall in classes with one bit each (2: "+" and "/", 3:
  // digits, 4 and 6: letters from A or a, 5 and 7: letters to Z or z, any
  // other: none); for each low nibble, the classes it is not allowed in.
  const __m128i classOf = _mm_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10,
                                        0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
  const __m128i refusedBy = _mm_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,
                                          0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
  const __m128i wrong =
      _mm_and_si128(_mm_shuffle_epi8(classOf, high), _mm_shuffle_epi8(refusedBy, low));
  const unsigned invalid =
      ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(wrong, _mm_setzero_si128()))) &
      0xFFFFu;
  const int valid = invalid == 0 ? 16 : __builtin_ctz(invalid);
  if (valid < 4)
    return valid;
  // The value is the character plus an offset chosen by its high nibble,
  // except that "/" (high nibble 2, like "+") takes the offset at 1.
  const __m128i offsets = _mm_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m128i slash = _mm_cmpeq_epi8(text, _mm_set1_epi8('/'));
  const __m128i values = _mm_add_epi8(text, _mm_shuffle_epi8(offsets, _mm_add_epi8(high, slash)));
  // Pairs of 6-bit values into 12 bits, pairs of those into 24 bits per
  // group, then the three bytes of each group first to last.
  const __m128i pairs = _mm_maddubs_epi16(values, _mm_set1_epi32(0x01400140));
  const __m128i groups = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00011000));
  const __m128i bytes = _mm_shuffle_epi8(
      groups, _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1));
  _mm_storel_epi64(reinterpret_cast<__m128i *>(out), bytes);
  const auto last = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(bytes, 8)));
  std::memcpy(out + 8, &last, 4);
  return valid;
}

__attribute__((target("ssse3"))) std::size_t DecodeSsse3(const unsigned char *in,
                                                         std::size_t size, unsigned char *out,
                                                         DecodeState &state, std::size_t *padEnd) {
  return DecodeCore(in, size, out, state, padEnd, [](const unsigned char *block, unsigned char *to)
                        __attribute__((target("ssse3"))) { return DecodeBlock16(block, to); });
}

bool HasSsse3() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") != 0;
  }();
  return has;
}
#endif

// Decodes text into out (room for 3 * (size / 4) + 3 bytes): characters
// outside the alphabet are skipped, line ends (CR, LF) too, so a group may
// run on over a line end; "=" ends the data of its line and drops the bits of
// an unfinished group. Returns the number of bytes written. With padEnd,
// returns at the first "=" and puts the offset after it there.
std::size_t DecodeInto(const unsigned char *in, std::size_t size, unsigned char *out,
                       DecodeState &state, std::size_t *padEnd = nullptr) {
#ifdef SCRIPTNET_BASE64_SSSE3
  if (HasSsse3())
    return DecodeSsse3(in, size, out, state, padEnd);
#endif
  return DecodeCore(in, size, out, state, padEnd, NoBlocks{});
}

constexpr char HexDigits[] = "0123456789ABCDEF";

} // namespace

int HexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Quoted-printable classes: printable characters other than "=" pass,
// blanks pass unless they end the line, everything else is escaped.
enum : unsigned char { QPLiteral = 0, QPBlank = 1, QPEscape = 2 };
struct QPTable {
  std::array<unsigned char, 256> Class{};
  constexpr QPTable() {
    for (unsigned c = 0; c < 256; ++c)
      Class[c] = c >= 33 && c <= 126 && c != '=' ? QPLiteral : QPEscape;
    Class[' '] = QPBlank;
    Class['\t'] = QPBlank;
  }
};
constexpr QPTable QPClasses{};

// Quoted-printable coding of one line. Emit(piece, last) receives each output
// line without its soft break; every piece but the last is followed by one.
template <typename Emit> void QPEncodeCore(std::string_view line, Emit &&emit) {
  constexpr std::size_t MaxLine = 76;
  char buffer[MaxLine + 4];
  std::size_t length = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    // A blank at the very end is escaped: transports may strip it.
    const unsigned char kind = QPClasses.Class[c];
    const bool literal = kind == QPLiteral || (kind == QPBlank && i + 1 < line.size());
    const std::size_t width = literal ? 1 : 3;
    // A line may use all 76 characters only when nothing follows it;
    // otherwise one is kept for the soft break.
    const std::size_t room = i + 1 == line.size() ? MaxLine : MaxLine - 1;
    if (length + width > room) {
      emit(std::string_view(buffer, length), false);
      length = 0;
    }
    if (literal) {
      buffer[length++] = static_cast<char>(c);
    } else {
      buffer[length++] = '=';
      buffer[length++] = HexDigits[c >> 4];
      buffer[length++] = HexDigits[c & 15];
    }
  }
  emit(std::string_view(buffer, length), true);
}

// Decodes one encoded line (trailing transport blanks already removed) onto out.
void QPDecodeInto(std::string_view line, std::string &out) {
  const std::size_t n = line.size();
  std::size_t i = 0;
  while (i < n) {
    const void *eq = std::memchr(line.data() + i, '=', n - i);
    const std::size_t at = eq ? static_cast<std::size_t>(static_cast<const char *>(eq) - line.data()) : n;
    out.append(line.data() + i, at - i);
    if (at == n)
      break;
    int hi = -1, lo = -1;
    if (at + 3 <= n) {
      hi = HexValue(line[at + 1]);
      lo = HexValue(line[at + 2]);
    }
    if (hi >= 0 && lo >= 0) {
      out.push_back(static_cast<char>(hi << 4 | lo));
      i = at + 3;
    } else {
      out.push_back('=');
      i = at + 1;
    }
  }
}

std::string_view TrimTrailingBlanks(std::string_view line) {
  std::size_t end = line.size();
  while (end > 0 && IsBlank(line[end - 1]))
    --end;
  return line.substr(0, end);
}

bool IsAddressSeparator(char c) { return c == ' ' || c == ',' || c == ';'; }

std::uint32_t AddressFromBytes(unsigned char a, unsigned char b, unsigned char c, unsigned char d) {
  const unsigned char bytes[4] = {a, b, c, d};
  std::uint32_t address;
  std::memcpy(&address, bytes, 4);
  return address;
}

constexpr const char *DayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char *MonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

} // namespace

std::size_t PosN(std::string_view pattern, std::string_view text, int n) {
  if (n == -1) {
    if (pattern.empty() || pattern.size() > text.size())
      return 0;
    const std::size_t at = text.rfind(pattern);
    return at == std::string_view::npos ? 0 : at + 1;
  }
  if (n <= 0)
    return 0;
  // An empty pattern occurs nowhere; callers read "past the end" as absent.
  if (pattern.empty())
    return text.size() + 1;
  std::size_t from = 0;
  for (int k = 0; k < n; ++k) {
    const std::size_t at = text.find(pattern, from);
    if (at == std::string_view::npos)
      return text.size() + 1;
    from = at + pattern.size();
  }
  return from;
}

std::string PathFileName(std::string_view path) {
  // On this system "/" separates folders as well as "\".
  std::size_t at = path.find_last_of("\\/");
  if (at == std::string_view::npos)
    at = path.rfind(':');
  return at == std::string_view::npos ? std::string(path) : std::string(path.substr(at + 1));
}

std::string EncodeLine(const unsigned char *bytes, std::size_t count) {
  if (!bytes || count == 0)
    return {};
  std::string out(4 * ((count + 2) / 3), '\0');
  EncodeInto(bytes, count, out.data());
  return out;
}

TStringList EncodeBase64Lines(TMemoryStream &stream) {
  stream.SetPosition(0);
  const std::string &bytes = stream.Bytes();
  const auto *data = reinterpret_cast<const unsigned char *>(bytes.data());
  const std::size_t size = bytes.size();
  TStringList lines;
  lines.reserve((size + 44) / 45);
  for (std::size_t at = 0; at < size; at += 45) {
    const std::size_t count = size - at < 45 ? size - at : 45;
    std::string &line = lines.emplace_back(4 * ((count + 2) / 3), '\0');
    EncodeInto(data + at, count, line.data());
  }
  stream.SetPosition(stream.Size());
  return lines;
}

std::string DecodeLine(std::string_view text) {
  const std::string_view data = text.substr(0, text.find('='));
  std::string out(3 * (data.size() / 4) + 3, '\0');
  DecodeState state;
  out.resize(DecodeInto(reinterpret_cast<const unsigned char *>(data.data()), data.size(),
                        reinterpret_cast<unsigned char *>(out.data()), state));
  return out;
}

void DecodeBase64Lines(const TStringList &lines, TMemoryStream &out) {
  out.SetPosition(out.Size());
  std::string piece;
  DecodeState state;
  for (const std::string &line : lines) {
    piece.resize(3 * (line.size() / 4) + 3);
    const std::size_t n = DecodeInto(reinterpret_cast<const unsigned char *>(line.data()),
                                     line.size(), reinterpret_cast<unsigned char *>(piece.data()),
                                     state);
    out.Write(piece.data(), n);
    state.Stopped = false; // the line ends here
  }
}

// Results are built through a small buffer and appended to a string whose
// room is reserved once: no pass to zero-fill megabytes that are about to
// be overwritten anyway.
std::string Base64Encode(std::string_view data) {
  std::string out;
  out.reserve(4 * ((data.size() + 2) / 3));
  platform::PrepareLargeWrite(out.data(), out.capacity());
  constexpr std::size_t ChunkIn = 3 * 1024;
  char buffer[4 * ChunkIn / 3];
  const auto *in = reinterpret_cast<const unsigned char *>(data.data());
  for (std::size_t at = 0; at < data.size(); at += ChunkIn) {
    const std::size_t count = std::min(ChunkIn, data.size() - at);
    out.append(buffer, EncodeInto(in + at, count, buffer));
  }
  return out;
}

namespace {

// Decodes text onto the end of out through a small buffer, carrying state.
// With toPad, stops after the first "=" and returns the offset after it;
// otherwise (or when there is none) returns the text's size.
std::size_t DecodeAppend(std::string_view text, std::string &out, DecodeState &state,
                         bool toPad = false) {
  constexpr std::size_t ChunkIn = 4 * 1024;
  unsigned char buffer[3 * ChunkIn / 4 + 3];
  const auto *in = reinterpret_cast<const unsigned char *>(text.data());
  for (std::size_t at = 0; at < text.size(); at += ChunkIn) {
    const std::size_t count = std::min(ChunkIn, text.size() - at);
    std::size_t padEnd = count + 1;
    out.append(reinterpret_cast<const char *>(buffer),
               DecodeInto(in + at, count, buffer, state, toPad ? &padEnd : nullptr));
    if (padEnd <= count)
      return at + padEnd;
  }
  return text.size();
}

} // namespace

std::string Base64DecodeText(std::string_view text) {
  std::string out;
  out.reserve(3 * (text.size() / 4) + 3);
  platform::PrepareLargeWrite(out.data(), out.capacity());
  DecodeState state;
  DecodeAppend(text, out, state);
  return out;
}

std::string Base64EncodeLines(std::string_view data) {
  std::string out;
  out.reserve(4 * ((data.size() + 2) / 3) + 2 * ((data.size() + 44) / 45));
  platform::PrepareLargeWrite(out.data(), out.capacity());
  Base64AppendLines(data, out);
  return out;
}

void Base64AppendLines(std::string_view data, std::string &out) {
  constexpr std::size_t LinesPerChunk = 64;
  char buffer[LinesPerChunk * 62];
  const auto *in = reinterpret_cast<const unsigned char *>(data.data());
  std::size_t at = 0;
  while (at < data.size()) {
    char *o = buffer;
    for (std::size_t k = 0; k < LinesPerChunk && at < data.size(); ++k) {
      if (at > 0) {
        *o++ = '\r';
        *o++ = '\n';
      }
      const std::size_t count = std::min<std::size_t>(45, data.size() - at);
      o += EncodeInto(in + at, count, o);
      at += count;
    }
    out.append(buffer, static_cast<std::size_t>(o - buffer));
  }
}

namespace {

// Room for the bytes that count characters decode to, asked for at once.
void ReserveDecoded(std::string &out, std::size_t count) {
  out.reserve(out.size() + 3 * (count / 4) + 3);
  platform::PrepareLargeWrite(out.data(), out.capacity());
}

} // namespace

std::string Base64DecodePart(std::span<const std::string> lines) {
  std::size_t size = 0;
  for (const std::string &line : lines)
    size += line.size();
  std::string out;
  ReserveDecoded(out, size);
  TBase64LineDecoder().Decode(lines, out);
  return out;
}

std::string Base64DecodePart(const TLineText &text, std::size_t first, std::size_t last) {
  std::string out;
  ReserveDecoded(out, text.Range(first, last).size());
  TBase64LineDecoder().Decode(text, first, last, out);
  return out;
}

void TBase64LineDecoder::Decode(std::span<const std::string> lines, std::string &out) {
  DecodeState state{bits_, count_, false};
  for (const std::string &line : lines) {
    DecodeAppend(line, out, state);
    state.Stopped = false; // the line ends here
  }
  bits_ = state.Bits;
  count_ = state.NBits;
}

void TBase64LineDecoder::Decode(const TLineText &text, std::size_t first, std::size_t last,
                                std::string &out) {
  // The lines stand one after the other in one text, which decodes as one
  // stream at full speed; only where a "=" ends a line's data is the rest of
  // that line passed over and the next one started afresh.
  const std::string_view all = text.Range(first, last);
  DecodeState state{bits_, count_, false};
  std::size_t from = 0;
  while (from < all.size()) {
    from += DecodeAppend(all.substr(from), out, state, true);
    if (from >= all.size())
      break;
    // The end of the line that holds the "=" just read: the first line
    // whose end lies past it.
    std::size_t low = first, high = last;
    while (low < high) {
      const std::size_t mid = low + (high - low) / 2;
      if (text.Range(first, mid + 1).size() < from)
        low = mid + 1;
      else
        high = mid;
    }
    from = text.Range(first, low + 1).size();
    state.Stopped = false;
  }
  bits_ = state.Bits;
  count_ = state.NBits;
}

TStringList QPEncode(std::string_view line) {
  TStringList lines;
  QPEncodeCore(line, [&lines](std::string_view piece, bool last) {
    std::string &l = lines.emplace_back();
    l.reserve(piece.size() + (last ? 0 : 1));
    l.append(piece);
    if (!last)
      l.push_back('=');
  });
  return lines;
}

std::string QPEncodeText(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8 + 16);
  platform::PrepareLargeWrite(out.data(), out.capacity());
  std::size_t start = 0;
  const std::size_t n = text.size();
  while (start < n) {
    const void *lf = std::memchr(text.data() + start, '\n', n - start);
    std::size_t end = lf ? static_cast<std::size_t>(static_cast<const char *>(lf) - text.data()) : n;
    const std::size_t next = lf ? end + 1 : n;
    if (end > start && text[end - 1] == '\r')
      --end;
    QPEncodeCore(text.substr(start, end - start), [&out](std::string_view piece, bool last) {
      out.append(piece);
      if (!last)
        out.append("=\r\n");
    });
    if (lf)
      out.append("\r\n");
    start = next;
  }
  return out;
}

std::string QPDecode(std::string_view line) {
  std::string out;
  out.reserve(line.size());
  QPDecodeInto(TrimTrailingBlanks(line), out);
  return out;
}

TStringList QPDecodeLines(const TStringList &lines) {
  TStringList out;
  std::string pending;
  bool joining = false;
  for (const std::string &raw : lines) {
    std::string_view line = TrimTrailingBlanks(raw);
    const bool soft = !line.empty() && line.back() == '=';
    if (soft)
      line.remove_suffix(1);
    QPDecodeInto(line, pending);
    joining = soft;
    if (!soft) {
      out.push_back(std::move(pending));
      pending.clear();
    }
  }
  if (joining)
    out.push_back(std::move(pending));
  return out;
}

std::string ExtractAddress(std::string_view text, int n) {
  if (n < 1)
    return {};
  const std::size_t at = PosN("@", text, n);
  if (at == 0 || at > text.size())
    return {};
  const std::size_t atIndex = at - 1;
  std::size_t start = 0;
  for (std::size_t i = atIndex; i > 0; --i)
    if (IsAddressSeparator(text[i - 1])) {
      start = i;
      break;
    }
  std::size_t end = start;
  while (end < text.size() && !IsAddressSeparator(text[end]))
    ++end;
  std::string_view address = text.substr(start, end - start);
  while (!address.empty() && (address.front() == '"' || address.front() == '(' || address.front() == '<'))
    address.remove_prefix(1);
  while (!address.empty() && (address.back() == '"' || address.back() == ')' || address.back() == '>'))
    address.remove_suffix(1);
  return std::string(address);
}

std::string LocalHostName() {
  const std::string name = platform::HostName();
  if (name.empty())
    return "127.0.0.1";
  platform::HostEntry entry;
  int error = 0;
  if (platform::LookupHost(name, entry, error) && !entry.OfficialName.empty())
    return entry.OfficialName;
  // A name the resolver does not know still names this host.
  return name;
}

std::uint32_t LocalIPAddress() {
  const std::string name = platform::HostName();
  platform::HostEntry entry;
  int error = 0;
  if (!name.empty() && platform::LookupHost(name, entry, error) && !entry.Addresses.empty())
    return entry.Addresses.front();
  return AddressFromBytes(127, 0, 0, 1);
}

std::string DottedAddress(std::uint32_t address) {
  return platform::FormatAddress(platform::SocketAddress::FromV4(address));
}

std::uint32_t ResolveHost(std::string_view host) {
  try {
    if (host.empty())
      return INADDR_NONE_VALUE;
    const std::string name(host);
    std::uint32_t address = 0;
    if (platform::ParseDotted(name, address))
      return address;
    platform::HostEntry entry;
    int error = 0;
    if (platform::LookupHost(name, entry, error) && !entry.Addresses.empty())
      return entry.Addresses.front();
  } catch (...) {
  }
  return INADDR_NONE_VALUE;
}

std::vector<platform::SocketAddress> ResolveAddresses(std::string_view host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  if (host.empty())
    return {};
  const std::string name(host);
  platform::SocketAddress numeric;
  if (platform::ParseAddress(name, numeric))
    return {numeric};
  platform::HostEntry entry;
  int error = 0;
  if (!platform::LookupHost(name, entry, error))
    return {};
  return entry.All;
}

platform::SocketAddress LocalAddress() {
  const std::string name = platform::HostName();
  platform::HostEntry entry;
  int error = 0;
  if (!name.empty() && platform::LookupHost(name, entry, error)) {
    if (!entry.Addresses.empty())
      return platform::SocketAddress::FromV4(entry.Addresses.front());
    return entry.All.front();
  }
  return platform::SocketAddress::FromV4(AddressFromBytes(127, 0, 0, 1));
}

int TimeZoneBias() { return platform::TimeZoneBiasMinutes(); }

std::string ZeroPad(std::int64_t value, int width) {
  std::string text = std::to_string(value);
  if (width > 0 && text.size() < static_cast<std::size_t>(width))
    text.insert(0, static_cast<std::size_t>(width) - text.size(), '0');
  return text;
}

std::string ZoneText() {
  const int bias = TimeZoneBias();
  if (bias == 0)
    return "GMT";
  const int minutes = bias < 0 ? -bias : bias;
  return (bias < 0 ? "+" : "-") + ZeroPad(minutes / 60, 2) + ZeroPad(minutes % 60, 2);
}

std::string MailDate(TDateTime t) {
  const DateParts p = DecodeDateTime(t);
  std::string out = DayNames[p.DayOfWeek];
  out += ", ";
  out += std::to_string(p.Day);
  out += ' ';
  out += MonthNames[p.Month - 1];
  out += ' ';
  out += std::to_string(p.Year);
  out += ' ';
  out += ZeroPad(p.Hour, 2) + ":" + ZeroPad(p.Minute, 2) + ":" + ZeroPad(p.Second, 2);
  out += ' ';
  out += ZoneText();
  return out;
}

std::string UrlDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  platform::PrepareLargeWrite(out.data(), out.capacity());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    // Copy the run up to the next "%" or "+" in one go.
    std::size_t j = i;
    while (j < n && text[j] != '%' && text[j] != '+')
      ++j;
    out.append(text.data() + i, j - i);
    if (j == n)
      break;
    if (text[j] == '+') {
      out.push_back(' ');
      i = j + 1;
      continue;
    }
    // One or two characters after "%", read once: a "%" that an escape
    // produced is never decoded again, so "%2541" is "%41".
    const std::size_t digits = n - j - 1 >= 2 ? 2 : n - j - 1;
    int value = 0;
    bool ok = digits > 0;
    for (std::size_t k = 1; ok && k <= digits; ++k) {
      const int d = HexValue(text[j + k]);
      ok = d >= 0;
      value = value * 16 + d;
    }
    if (!ok) {
      std::string shown(text.substr(j, 1 + digits));
      for (char &c : shown)
        if (c == '+')
          c = ' ';
      throw EConvertError("'" + shown + "' is not a valid escape");
    }
    out.push_back(static_cast<char>(value));
    i = j + 1 + digits;
  }
  return out;
}
