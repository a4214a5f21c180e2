#!/usr/bin/env python3
"""Writes tui/src/prompt/unicode_tables.cpp from the Unicode character database.

Reads the files of Debian's unicode-data package (or the directory given with
--ucd) and emits sorted range tables, searched by binary search, for:
  - White_Space (PropList.txt);
  - display width: 0 for general categories Mn, Me and Cf (but U+00AD), the
    Hangul medial vowels and final consonants U+1160..U+11FF and U+200B;
    2 for East_Asian_Width W and F (with the defaults UAX #11 gives to
    unlisted code points of the ideograph blocks and planes 2 and 3);
    everything else 1 (control characters are left to the caller);
  - the full lower-case mapping: UnicodeData's simple lowercase, replaced by
    the unconditional entries of SpecialCasing.txt.

Usage: python3 tools/gen_unicode_tables.py [--ucd DIR] [--output FILE]
"""

import argparse
import os
import sys

MAX_CP = 0x10FFFF
REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_OUTPUT = os.path.join(REPO, "tui", "src", "prompt", "unicode_tables.cpp")


def data_lines(path):
    """Yields the semicolon-split fields of each data line, comments removed."""
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                yield [field.strip() for field in line.split(";")]


def code_range(text):
    if ".." in text:
        first, last = text.split("..")
        return int(first, 16), int(last, 16)
    return int(text, 16), int(text, 16)


def read_unicode_data(ucd):
    """Returns ({code point: general category}, {code point: simple lowercase})."""
    category = {}
    lower = {}
    range_start = None
    for fields in data_lines(os.path.join(ucd, "UnicodeData.txt")):
        cp = int(fields[0], 16)
        name, gc = fields[1], fields[2]
        if name.endswith(", First>"):
            range_start = cp
            continue
        if name.endswith(", Last>"):
            for c in range(range_start, cp + 1):
                category[c] = gc
            range_start = None
            continue
        category[cp] = gc
        if fields[13]:
            lower[cp] = [int(fields[13], 16)]
    return category, lower


def read_property(path, wanted):
    members = set()
    for fields in data_lines(path):
        if fields[1] == wanted:
            first, last = code_range(fields[0])
            members.update(range(first, last + 1))
    return members


def read_special_lower(ucd):
    """Unconditional full lowercase mappings (entries without a condition)."""
    special = {}
    for fields in data_lines(os.path.join(ucd, "SpecialCasing.txt")):
        # code; lower; title; upper; [condition;] -- the trailing ';' leaves an
        # empty last field, so an unconditional entry has exactly five fields.
        if len(fields) != 5:
            continue
        cp = int(fields[0], 16)
        special[cp] = [int(x, 16) for x in fields[1].split()]
    return special


def read_wide(ucd):
    wide = set()
    # UAX #11 defaults for code points the file does not list.
    defaults = [(0x3400, 0x4DBF), (0x4E00, 0x9FFF), (0xF900, 0xFAFF),
                (0x20000, 0x2FFFD), (0x30000, 0x3FFFD)]
    listed = set()
    for fields in data_lines(os.path.join(ucd, "EastAsianWidth.txt")):
        first, last = code_range(fields[0])
        for c in range(first, last + 1):
            listed.add(c)
            if fields[1] in ("W", "F"):
                wide.add(c)
    for first, last in defaults:
        wide.update(c for c in range(first, last + 1) if c not in listed)
    return wide


def ranges(members):
    """Sorted (first, last) runs of a set of code points."""
    out = []
    for c in sorted(members):
        if out and out[-1][1] == c - 1:
            out[-1][1] = c
        else:
            out.append([c, c])
    return out


def width_ranges(zero, wide):
    """(first, last, width) runs of the code points whose width is not 1."""
    out = []
    for c in range(MAX_CP + 1):
        if c in zero:
            w = 0
        elif c in wide:
            w = 2
        else:
            continue
        if out and out[-1][1] == c - 1 and out[-1][2] == w:
            out[-1][1] = c
        else:
            out.append([c, c, w])
    return out


def case_runs(single):
    """Groups single-character mappings into (first, last, delta, stride) runs:
    every stride-th code point from first to last maps to itself plus delta."""
    runs = []
    for cp in sorted(single):
        delta = single[cp] - cp
        if runs:
            first, last, d, stride = runs[-1]
            gap = cp - last
            if d == delta and ((first == last and gap in (1, 2)) or gap == stride):
                runs[-1] = [first, cp, d, gap if first == last else stride]
                continue
        runs.append([cp, cp, delta, 1])
    return runs


def hex_cp(c):
    return "0x%04X" % c


def emit_ranges(name, rs):
    lines = ["constexpr Range %s[] = {" % name]
    items = ["{%s, %s}" % (hex_cp(a), hex_cp(b)) for a, b in rs]
    lines += wrap_items(items)
    lines.append("};")
    return lines


def wrap_items(items, width=78):
    lines = []
    line = "   "
    for item in items:
        piece = " " + item + ","
        if len(line) + len(piece) > width:
            lines.append(line)
            line = "   "
        line += piece
    if line.strip():
        lines.append(line)
    return lines


HEADER = """\
// unicode_tables.cpp: character property tables of Unicode {version}.
// Generated by `python3 tools/gen_unicode_tables.py` from Debian's unicode-data
// files; do not edit by hand, run the generator again instead.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>

namespace unicode::detail {{

namespace {{

struct Range {{
  char32_t first, last;
}};

struct WidthRange {{
  char32_t first, last;
  std::uint8_t width;
}};

/// Every stride-th code point from first to last lower-cases to itself + delta.
struct CaseRun {{
  char32_t first, last;
  std::int32_t delta;
  std::uint8_t stride;
}};

/// A lower-case mapping to more than one character.
struct MultiLower {{
  char32_t from;
  std::uint8_t count;
  char32_t to[3];
}};

template <typename T, std::size_t N>
const T* find_range(const T (&table)[N], char32_t c) {{
  const T* it = std::upper_bound(std::begin(table), std::end(table), c,
                                 [](char32_t v, const T& r) {{ return v < r.first; }});
  if (it == std::begin(table)) return nullptr;
  --it;
  return c <= it->last ? it : nullptr;
}}
"""

FOOTER = """\
}  // namespace

bool white_space(char32_t c) { return find_range(kWhiteSpace, c) != nullptr; }

int table_width(char32_t c) {
  const WidthRange* r = find_range(kWidth, c);
  return r ? r->width : 1;
}

std::size_t lower_full(char32_t c, char32_t out[3]) {
  const MultiLower* m = std::lower_bound(
      std::begin(kMultiLower), std::end(kMultiLower), c,
      [](const MultiLower& e, char32_t v) { return e.from < v; });
  if (m != std::end(kMultiLower) && m->from == c) {
    std::copy(m->to, m->to + m->count, out);
    return m->count;
  }
  const CaseRun* r = find_range(kLower, c);
  if (r && (c - r->first) % r->stride == 0)
    out[0] = static_cast<char32_t>(static_cast<std::int32_t>(c) + r->delta);
  else
    out[0] = c;
  return 1;
}

}  // namespace unicode::detail
"""


def ucd_version(ucd):
    with open(os.path.join(ucd, "EastAsianWidth.txt"), encoding="utf-8") as f:
        first = f.readline()  # "# EastAsianWidth-15.0.0.txt"
    return first.strip().lstrip("# ").removeprefix("EastAsianWidth-").removesuffix(".txt")


def generate(ucd):
    category, simple_lower = read_unicode_data(ucd)
    white = read_property(os.path.join(ucd, "PropList.txt"), "White_Space")

    zero = {c for c, gc in category.items() if gc in ("Mn", "Me", "Cf")}
    zero.discard(0x00AD)
    zero.update(range(0x1160, 0x1200))
    zero.add(0x200B)
    wide = read_wide(ucd)

    lower = dict(simple_lower)
    multi = []
    for cp, mapped in read_special_lower(ucd).items():
        if len(mapped) == 1:
            if mapped[0] == cp:
                lower.pop(cp, None)
            else:
                lower[cp] = mapped
        else:
            lower.pop(cp, None)
            multi.append((cp, mapped))
    single = {cp: m[0] for cp, m in lower.items()}

    out = HEADER.format(version=ucd_version(ucd)).splitlines()
    out.append("")
    out += emit_ranges("kWhiteSpace", ranges(white))
    out.append("")
    out.append("constexpr WidthRange kWidth[] = {")
    out += wrap_items(["{%s, %s, %d}" % (hex_cp(a), hex_cp(b), w)
                       for a, b, w in width_ranges(zero, wide)])
    out.append("};")
    out.append("")
    out.append("constexpr CaseRun kLower[] = {")
    out += wrap_items(["{%s, %s, %d, %d}" % (hex_cp(a), hex_cp(b), d, s)
                       for a, b, d, s in case_runs(single)])
    out.append("};")
    out.append("")
    out.append("constexpr MultiLower kMultiLower[] = {")
    out += wrap_items(["{%s, %d, {%s}}" % (hex_cp(cp), len(m), ", ".join(hex_cp(x) for x in m))
                       for cp, m in sorted(multi)])
    out.append("};")
    out.append("")
    out += FOOTER.splitlines()
    return "\n".join(out) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--ucd", default="/usr/share/unicode",
                        help="directory of the Unicode data files")
    parser.add_argument("--output", default=DEFAULT_OUTPUT,
                        help="file to write ('-' for standard output)")
    args = parser.parse_args()
    text = generate(args.ucd)
    if args.output == "-":
        sys.stdout.write(text)
    else:
        with open(args.output, "w", encoding="utf-8") as f:
            f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
